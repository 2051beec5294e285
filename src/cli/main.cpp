#include <iostream>

int main() {
  std::cout << "plexisync\n";
  return 0;
}
