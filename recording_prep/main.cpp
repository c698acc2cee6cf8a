#include "prep.h"

#include <iostream>

int main(int argc, char** argv)
{
    return runPrep(argc, argv, std::cout, std::cerr);
}
