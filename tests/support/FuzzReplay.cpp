// Replays fuzz inputs (regression files, made seeds) through a fuzz target's
// entry point, linked in beside this file, so every compiler and the
// sanitizer build run them.
//   REPLAY FILE...
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int passed = 0;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++passed;
  }
  std::printf("%d passed, 0 failed\n", passed);
  return passed == argc - 1 ? 0 : 1;
}
