#include "generator.h"

#include <iostream>

int main(int argc, char** argv)
{
    return runGenerator(argc, argv, std::cout, std::cerr);
}
