// mir_attribution on Linux: the arguments' bytes are passed on unchanged.
#include "tools/mir_attribution/cli.h"

int main(int argc, char** argv) {
  std::vector<mir_attribution::Argument> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back({argv[i], std::filesystem::path(argv[i])});
  return mir_attribution::RunAttributionTool(arguments);
}
