// Feeds every file of the given directories (or files) to the fuzz harness once.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int runFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return 1;
}

int main(int argc, char** argv) {
    int n = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) continue;
        if (!S_ISDIR(st.st_mode)) {
            n += runFile(argv[i]);
            continue;
        }
        DIR* d = opendir(argv[i]);
        while (dirent* e = d ? readdir(d) : nullptr)
            if (e->d_name[0] != '.') n += runFile(std::string(argv[i]) + "/" + e->d_name);
        if (d) closedir(d);
    }
    printf("replayed %d inputs\n", n);
    return n > 0 ? 0 : 1;
}
