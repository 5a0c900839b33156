// placeholder: emits an empty resource list
#include <fstream>
int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::ofstream out(argv[1]);
  out << "#include \"platform/CompiledResources.h\"\nnamespace platform {\nstd::span<const CompiledResource> CompiledResources() { return {}; }\n}\n";
  return 0;
}
