#include <iostream>

#include "cli/app.hpp"

int main(int argc, char** argv) { return cli::RunPlexisync(argc, argv, std::cin, std::cout, std::cerr); }
