// Writes the hostile signed files into a folder, one "<name>.slv" each, and
// an index (name TAB description) for tools/hostile/measure.
//   selavia-hostile [--grandes] PASTA    --grandes adds files of hundreds of MB

#include "tools/hostile/HostileInputs.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char* argv[])
{
    const bool large = argc == 3 && std::string(argv[1]) == "--grandes";
    if (argc != 2 && !large) {
        std::fprintf(stderr, "uso: selavia-hostile [--grandes] PASTA\n");
        return 64;
    }
    const std::filesystem::path folder(argv[argc - 1]);
    std::filesystem::create_directories(folder);
    std::ofstream index(folder / "index.tsv", std::ios::trunc);
    auto write = [&](const selavia::hostile::Named& input) {
        selavia::fixtures::writeFile((folder / (input.name + ".slv")).string(), input.bytes);
        index << input.name << ".slv\t" << input.description << '\n';
    };
    for (const auto& input : selavia::hostile::allInputs())
        write(input);
    // One at a time: each is hundreds of MB in memory.
    if (large) {
        for (const auto& make : selavia::hostile::largeInputs())
            write(make());
    }
    index.close();
    return index ? 0 : 1;
}
