#!/bin/sh
# The emulated machine's stand-in for cmd.exe /c, as far as the launcher
# scenarios need it: the batch file that the command line names runs as a
# shell script, echo prints the rest of the line, and any other command line
# is printed as received. As cmd.exe does, a line that starts with two quotes
# loses its first and last, and an unquoted name ends at the first space.
q='"'
l=$2
case $l in "echo "*) printf '%s\n' "${l#echo }"; exit;; esac
case $l in "$q$q"*) l=${l#"$q"}; l=${l%"$q"};; esac
case $l in "$q"*) f=${l#"$q"}; f=${f%%"$q"*};; *) f=${l%% *};; esac
f=$(printf '%s' "$f" | tr '\134' '/')
case $f in [Cc]:*) f="$QUILLMARK_PREFIX/drive_c${f#??}";; esac
case $f in *.bat) sed -e '/^@echo off/d' -e 's/\r$//' "$f" | sh; exit;; esac
printf '%s\n' "$2"
