#include "main/driver.h"

int main(int argc, char** argv) { return corvale::run(argc, argv); }
