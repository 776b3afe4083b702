#include "tools/res2vtk/pvd_collection.h"

#include "tools/common/series_tool.h"
#include "tools/common/temporaries.h"
#include "tools/common/xml_text.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

Collection::Collection(CollectionPaths paths) : paths_(std::move(paths)) {}

Collection::~Collection()
{
    staged_.clear(); // what was not put in place
    if (times_.empty() && made_folder_ && lock_fd_ >= 0)
        rmdir(paths_.folder.c_str()); // only if it is still empty
    if (lock_fd_ >= 0)
        close(lock_fd_);
}

Status Collection::open(std::string *warning)
{
    // Made here, or found: only a folder this run made may go again if the run fails.
    Status s = open_output_file(paths_.pvd);
    made_folder_ = s.ok() && mkdir(paths_.folder.c_str(), 0777) == 0;
    if (s.ok())
        s = open_output_folder(paths_.folder, ".vtu");
    if (!s.ok())
        return s;
    int fd = ::open(paths_.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Status::error("cannot open " + paths_.folder + ": " + std::strerror(errno));
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
    return Status();
}

Status Collection::stage(int n, const std::string &time, const std::string &vtu, bool sync)
{
    WholeFile f;
    Status s = f.open(paths_.folder + "/" + output_name(n, ".vtu"));
    if (s.ok())
        s = f.write(vtu.data(), vtu.size());
    if (s.ok())
        s = f.close(sync);
    if (!s.ok())
        return s;
    staged_.emplace_back(n, std::move(f));
    staged_times_[n] = time;
    return Status();
}

std::vector<int> Collection::in_place() const
{
    std::vector<int> files;
    for (const auto &t : times_)
        files.push_back(t.first);
    return files;
}

// The files of the series that the collection being replaced names in the folder, by path: what
// this run may remove. Names of any other shape are never touched.
std::set<std::string> Collection::named_by_old() const
{
    std::set<std::string> files;
    std::FILE *f = std::fopen(paths_.pvd.c_str(), "rb");
    if (!f)
        return files;
    std::string text;
    char buf[65536];
    for (std::size_t k; (k = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, k);
    std::fclose(f);
    const std::string &rel = paths_.rel;
    for (std::size_t at = text.find("file=\""); at != std::string::npos;
         at = text.find("file=\"", at + 1)) {
        std::size_t end = text.find('"', at + 6);
        if (end == std::string::npos)
            break;
        std::string file = xml_unescaped(text.substr(at + 6, end - at - 6));
        // "FOLDER/res0NNN.vtu" and nothing else: the index read, then the name made again.
        if (file.size() > rel.size() && file.compare(0, rel.size(), rel) == 0 &&
            output_index(file.substr(rel.size()), ".vtu") >= 0)
            files.insert(paths_.folder + "/" + file.substr(rel.size()));
    }
    return files;
}

// The collection naming every file put in place and staged, in series order.
std::string Collection::text() const
{
    std::map<int, std::string> all = times_;
    for (const auto &s : staged_)
        all[s.first] = staged_times_.at(s.first);
    std::string pvd = "<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\" version=\"0.1\">\n"
                      "  <Collection>\n";
    for (const auto &t : all) {
        pvd += "    <DataSet timestep=\"";
        pvd += t.second;
        pvd += "\" group=\"\" part=\"0\" file=\"";
        pvd += xml_escaped(paths_.rel + output_name(t.first, ".vtu"));
        pvd += "\"/>\n";
    }
    return pvd + "  </Collection>\n</VTKFile>\n";
}

// The new collection under its temporary name, closed; everything staged durable by then.
Status Collection::write_collection(bool sync_all, WholeFile *pvd) const
{
    const std::string pvd_text = text();
    Status s = pvd->open(paths_.pvd);
    if (s.ok())
        s = pvd->write(pvd_text.data(), pvd_text.size());
    if (s.ok())
        s = pvd->close(!sync_all);
    if (s.ok() && sync_all)
        s = sync_file_system(paths_.folder);
    return s;
}

Status Collection::commit(bool sync_all)
{
    std::set<std::string> old = named_by_old();
    WholeFile pvd;
    Status s = write_collection(sync_all, &pvd);
    for (auto &f : staged_) {
        if (s.ok())
            s = f.second.commit(false);
        if (s.ok())
            times_[f.first] = staged_times_[f.first];
    }
    for (const auto &t : times_)
        old.erase(paths_.folder + "/" + output_name(t.first, ".vtu"));
    if (s.ok())
        s = sync_dir(paths_.folder);
    if (s.ok())
        s = pvd.commit(false);
    if (s.ok())
        s = sync_dir(folder_of(paths_.pvd));
    staged_.clear(); // what was not put in place goes
    staged_times_.clear();
    for (const auto &path : old)
        if (s.ok())
            unlink(path.c_str());
    return s;
}
