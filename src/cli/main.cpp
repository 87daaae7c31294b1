#include "cli/generation_run.h"

int main(int argc, char** argv) { return stampline::stamplineMain(argc, argv); }
