// quelvox-cli: the terminal front end of the converter.
#include <clocale>
#include <cstdio>
#include <cstring>

namespace {

void PrintUsage(FILE* out) {
    std::fputs(
        "Usage: quelvox-cli [options] FILE|FOLDER...\n"
        "Convert audio files (and the audio tracks of video files) with the\n"
        "stored Quelvox settings.\n"
        "\n"
        "Options:\n"
        "  -h, --help       show this help and exit\n"
        "      --version    show the version and exit\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quelvox-cli %s\n", QUELVOX_VERSION);
            return 0;
        }
    }
    std::fprintf(stderr, "quelvox-cli: conversion is not available yet\n");
    return 2;
}
