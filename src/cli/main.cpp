#include <cstdio>

int main() {
  std::printf("ferrytide %s\n", FERRYTIDE_VERSION);
  return 0;
}
