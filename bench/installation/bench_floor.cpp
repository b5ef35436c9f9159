// bench_floor SOURCE DESTINATION
//
// The least an installation that can be undone has to do on the disk, as a
// plain program: every file of SOURCE (a folder, read first) is written into
// a staging folder below DESTINATION, the files it replaces are renamed
// aside, the new ones renamed into place, one syncfs(2), then the old ones
// are deleted and the staging folder removed. No archive, no signature, no
// log, no journal: what the benchmarks hold the module's installation
// against.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct File {
    std::string path; // relative
    std::string bytes;
};

void readTree(const std::string& root, const std::string& relative, std::vector<File>* files)
{
    DIR* dir = opendir((root + "/" + relative).c_str());
    if (!dir)
        return;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat info;
        if (lstat((root + "/" + path).c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            readTree(root, path, files);
        } else if (S_ISREG(info.st_mode)) {
            File file{path, std::string(size_t(info.st_size), '\0')};
            const int fd = open((root + "/" + path).c_str(), O_RDONLY);
            if (fd >= 0 && read(fd, &file.bytes[0], file.bytes.size()) == ssize_t(file.bytes.size()))
                files->push_back(std::move(file));
            if (fd >= 0)
                close(fd);
        }
    }
    closedir(dir);
}

void makeParents(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
}

bool fail(const std::string& what)
{
    std::fprintf(stderr, "bench_floor: %s: %s\n", what.c_str(), std::strerror(errno));
    return false;
}

bool install(const std::vector<File>& files, const std::string& destination)
{
    const std::string staging = destination + "/.staging";
    for (const File& file : files) {
        const std::string path = staging + "/" + file.path;
        makeParents(path);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0755);
        if (fd < 0 || write(fd, file.bytes.data(), file.bytes.size()) != ssize_t(file.bytes.size()) || close(fd) != 0)
            return fail(path);
    }
    std::vector<std::string> old;
    for (const File& file : files) {
        const std::string path = destination + "/" + file.path;
        if (rename(path.c_str(), (path + ".floor.old").c_str()) == 0)
            old.push_back(path + ".floor.old");
        makeParents(path);
        if (rename((staging + "/" + file.path).c_str(), path.c_str()) != 0)
            return fail(path);
    }
    const int fd = open(destination.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0 || syncfs(fd) != 0)
        return fail("syncfs");
    close(fd);
    for (const std::string& path : old)
        unlink(path.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_floor SOURCE DESTINATION\n");
        return 2;
    }
    std::vector<File> files;
    readTree(argv[1], std::string(), &files);
    if (!install(files, argv[2]))
        return 1;
    // The staging folder's empty subfolders.
    return std::system((std::string("rm -rf '") + argv[2] + "/.staging'").c_str()) == 0 ? 0 : 1;
}
