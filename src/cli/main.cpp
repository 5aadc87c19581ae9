// zevrin-cli: the engine without widgets, for scripts and headless use.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("zevrin-cli 2");
    return 0;
  }
  std::fprintf(stderr, "usage: zevrin-cli [-ini PATH] COMMAND ...\n");
  return 2;
}
