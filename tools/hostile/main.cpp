// Writes the hostile signed files into a folder, one "<name>.slv" each, and
// an index (name TAB description) for tools/hostile/measure.
//   selavia-hostile PASTA

#include "tools/hostile/HostileInputs.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "uso: selavia-hostile PASTA\n");
        return 64;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    std::ofstream index(folder / "index.tsv", std::ios::trunc);
    for (const auto& input : selavia::hostile::allInputs()) {
        selavia::fixtures::writeFile((folder / (input.name + ".slv")).string(), input.bytes);
        index << input.name << ".slv\t" << input.description << '\n';
    }
    index.close();
    return index ? 0 : 1;
}
