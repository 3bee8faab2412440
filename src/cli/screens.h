// The three fixed screens: help, examples, syntax error. Each returns the
// exit code with which the run ends; the driver returns it to main.
#pragma once

namespace qm {

inline constexpr const char* kProgramName = "Quillmark";
inline constexpr const char* kVersionText = "v 1.08 (20 May 2005)";
inline constexpr const char* kWebAddress = "https://quillmark.example.org/";
inline constexpr const char* kMailAddress = "support@quillmark.example.org";

void PrintBanner();
int ShowHelp(int exitCode);
int ShowExamples();
int ReportSyntaxError();

}  // namespace qm
