#pragma once

// Each file of tests runs its Qt Test classes from one function; the main function calls them all.
int RunMainWindowTests(int argc, char** argv);
int RunSessionListTests(int argc, char** argv);
int RunConfigSheetTests(int argc, char** argv);
int RunSheetPortTests(int argc, char** argv);
int RunUserDialogTests(int argc, char** argv);
int RunClientDialogTests(int argc, char** argv);
int RunLogViewerTests(int argc, char** argv);
int RunTrayAndSplashTests(int argc, char** argv);
int RunProgramTests(int argc, char** argv);
int RunServersBesideWindowTests(int argc, char** argv);
