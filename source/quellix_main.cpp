// Process entry point.
#include "quellix.h"

int main(int argc, char** argv) { return QuellixMain(argc, argv); }
