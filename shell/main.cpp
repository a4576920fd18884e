#include "orva.h"

int main(int argc, char** argv) { return orva::Main(argc, argv); }
