#include "tools/common/pvd_collection.h"

#include "resfile/res_file.h"
#include "tools/common/xml_text.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

namespace
{

// "res0001-5f0e3c9a2b7d4e81.vtu" for file n of this content.
std::string vtu_name(int n, const std::string &vtu)
{
    char hash[20];
    // 64 bits of xxHash's XXH3: enough to tell the conversions of one result file apart, at a
    // small part of the conversion's time.
    std::snprintf(hash, sizeof hash, "%016" PRIx64,
                  (std::uint64_t)XXH3_64bits(vtu.data(), vtu.size()));
    return output_name(n, "-") + hash + ".vtu";
}

// The whole of a file that may be missing: not found when it is.
Status read_file(const std::string &path, std::string *text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return system_error("read", path, "open");
    text->clear();
    char buf[65536];
    Status s;
    for (;;) {
        const ssize_t k = ::read(fd, buf, sizeof buf);
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0)
            s = system_error("read", path, "read");
        if (k <= 0)
            break;
        text->append(buf, (std::size_t)k);
    }
    ::close(fd);
    return s;
}

} // namespace

Option collection_option(const char *name, CollectionPaths *paths)
{
    return {name, Takes::PATH, "a file name ending in .pvd", [paths](const char *v) {
                std::string pvd = v;
                std::size_t n = pvd.size();
                if (n < 4 || pvd.compare(n - 4, 4, ".pvd") != 0)
                    return false;
                paths->pvd = pvd;
                paths->folder = pvd.substr(0, n - 4);
                return true;
            }};
}

std::string check_collection(const char *name, CollectionPaths *paths, const char *dir)
{
    const std::string option = std::string(name) + " " + paths->pvd;
    struct stat series, folder;
    if (stat(dir ? dir : ".", &series) == 0 && stat(paths->folder.c_str(), &folder) == 0 &&
        series.st_dev == folder.st_dev && series.st_ino == folder.st_ino)
        return option + " would put its .vtu files into the series folder " + (dir ? dir : ".") +
               " itself; give a collection whose name leaves another folder";
    const std::string base = split_path(paths->folder).name;
    if (base.empty() || base == "." || base == "..")
        return option + ": the folder beside it would be \"" + base +
               "\"; give the collection a name before .pvd";
    if (const char *bad = xml_unfit(base))
        return std::string(name) + ": the collection cannot name its folder: " + bad;
    paths->rel = base + "/";
    return "";
}

Collection::Collection(CollectionPaths paths) : paths_(std::move(paths)) {}

Collection::~Collection()
{
    if (in_place_.empty() && made_folder_ && lock_fd_ >= 0)
        rmdir(paths_.folder.c_str()); // only if it is still empty
    if (lock_fd_ >= 0)
        close(lock_fd_);
}

bool Collection::ours(const std::string &name)
{
    const std::size_t n = name.size();
    if (n < 4 || name.compare(n - 4, 4, ".vtu") != 0)
        return false;
    std::string base = name.substr(0, n - 4);
    const std::size_t dash = base.find('-');
    if (dash != std::string::npos) {
        if (base.size() - dash != 17 ||
            base.find_first_not_of("0123456789abcdef", dash + 1) != std::string::npos)
            return false;
        base.resize(dash);
    }
    return res_file_index((base + ".inp").c_str()) >= 0;
}

Status Collection::open(std::string *warning)
{
    // Made here, or found: only a folder this run made may go again if the run fails.
    Status s = open_output_file(paths_.pvd);
    made_folder_ = s.ok() && mkdir(paths_.folder.c_str(), 0777) == 0;
    if (s.ok())
        s = open_output_folder(paths_.folder, [](const std::string &name) { return ours(name); });
    if (!s.ok())
        return s;
    int fd = ::open(paths_.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return system_error("open", paths_.folder, "open");
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            close(fd);
            made_folder_ = false; // a folder made here and locked by another run is that run's now
            return Status::error("another run is writing " + paths_.pvd + " and " + paths_.folder +
                                 "/; nothing written");
        }
        // A file system without locks (some network ones): the run goes on unguarded.
        *warning = "cannot lock " + paths_.folder + " (" + std::strerror(errno) +
                   "); a second run into it at once would mix the two";
    }
    lock_fd_ = fd;
    return read_in_place();
}

// The entries of the collection in place that name files of ours in the folder. Entries of any
// other shape are not ours to carry on.
Status Collection::read_in_place()
{
    std::string text;
    Status s = read_file(paths_.pvd, &text);
    if (s.is_not_found())
        return Status();
    if (!s.ok())
        return Status::error(s.message() + "; nothing written");
    const std::string &rel = paths_.rel;
    for (std::size_t at = text.find("<DataSet "); at != std::string::npos;
         at = text.find("<DataSet ", at + 1)) {
        const std::size_t end = text.find("/>", at);
        const std::string tag = text.substr(at, end == std::string::npos ? 0 : end - at);
        const auto attribute = [&tag](const char *name) {
            const std::string key = std::string(" ") + name + "=\"";
            const std::size_t from = tag.find(key);
            const std::size_t to =
                from == std::string::npos ? from : tag.find('"', from + key.size());
            return to == std::string::npos
                       ? std::string()
                       : xml_unescaped(tag.substr(from + key.size(), to - from - key.size()));
        };
        const std::string file = attribute("file");
        if (file.size() <= rel.size() || file.compare(0, rel.size(), rel) != 0 ||
            !ours(file.substr(rel.size())))
            continue;
        const std::string name = file.substr(rel.size());
        const std::string base = name.substr(0, name.find_first_of("-."));
        in_place_[res_file_index((base + ".inp").c_str())] = {attribute("timestep"), name};
    }
    return Status();
}

Status Collection::add(int n, const std::string &time, const std::string &vtu)
{
    const std::string name = vtu_name(n, vtu);
    next_[n] = {time, name};
    const auto in = in_place_.find(n);
    if (in != in_place_.end() && in->second.file == name)
        return Status(); // that very content is in place already
    // Written straight under its name: no reader looks at a file that no collection names.
    Status s = write_unnamed_file(paths_.folder + "/" + name, vtu.data(), vtu.size());
    if (s.ok()) {
        added_.push_back(name);
        undurable_.push_back(name);
    } else {
        next_.erase(n);
    }
    return s;
}

void Collection::keep(int n)
{
    const auto in = in_place_.find(n);
    if (in != in_place_.end())
        next_[n] = in->second;
}

// The collection naming entries, in series order.
std::string Collection::text(const std::map<int, Entry> &entries) const
{
    std::string pvd = "<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" version=\"0.1\">\n"
                      "  <Collection>\n";
    for (const auto &e : entries) {
        pvd += "    <DataSet timestep=\"";
        pvd += e.second.time;
        pvd += "\" group=\"\" part=\"0\" file=\"";
        pvd += xml_escaped(paths_.rel + e.second.file);
        pvd += "\"/>\n";
    }
    return pvd + "  </Collection>\n</VTKFile>\n";
}

Status Collection::commit()
{
    // The files, then their names, durable before the collection names them.
    Status s = make_durable(paths_.folder, undurable_);
    if (s.ok())
        undurable_.clear();
    if (s.ok())
        s = sync_dir(paths_.folder);
    const std::string pvd_text = text(next_);
    WholeFile pvd;
    if (s.ok())
        s = pvd.open(paths_.pvd);
    if (s.ok())
        s = pvd.write(pvd_text.data(), pvd_text.size());
    if (s.ok())
        s = pvd.commit(); // the one moment the output changes
    // Once renamed, the new collection is the one in place, even if making it durable failed.
    if (pvd.renamed())
        in_place_ = next_;
    if (!s.ok())
        return s;
    return remove_unnamed();
}

// Removes every file of ours in the folder that the collection in place does not name: what the
// collection it replaced named, and what failed or killed runs left.
Status Collection::remove_unnamed()
{
    std::map<std::string, bool> named;
    for (const auto &e : in_place_)
        named[e.second.file] = true;
    DIR *d = opendir(paths_.folder.c_str());
    if (!d)
        return system_error("clean up", paths_.folder, "opendir");
    Status s;
    errno = 0;
    for (const dirent *e; (e = readdir(d)) != nullptr; errno = 0) {
        const std::string name = e->d_name;
        if (!ours(name) || named.count(name))
            continue;
        if (unlinkat(dirfd(d), name.c_str(), 0) != 0 && errno != ENOENT && s.ok())
            s = system_error("remove", paths_.folder + "/" + name, "unlink");
    }
    if (errno != 0 && s.ok())
        s = system_error("clean up", paths_.folder, "readdir");
    closedir(d);
    if (s.ok())
        s = sync_dir(paths_.folder);
    if (!s.ok())
        return Status::error(s.message() + "; the next run removes what is left");
    return s;
}

Status Collection::discard()
{
    std::map<std::string, bool> named;
    for (const auto &e : in_place_)
        named[e.second.file] = true;
    Status s;
    for (const auto &name : added_) {
        const std::string path = paths_.folder + "/" + name;
        if (!named.count(name) && unlink(path.c_str()) != 0 && errno != ENOENT && s.ok())
            s = Status::error(system_error("remove", path, "unlink").message() +
                              "; the next run that completes removes it");
    }
    added_.clear();
    return s;
}

std::vector<int> Collection::in_place() const
{
    std::vector<int> files;
    for (const auto &e : in_place_)
        files.push_back(e.first);
    return files;
}
