#pragma once
// A stick held in memory for the clean-up's tests: folders, files with contents, and links,
// listed in the order they were added (as a FAT directory lists them).
#include <map>
#include <string>
#include <vector>

#include "clean/plan.h"

class MemoryStick : public StickAccess {
  public:
    explicit MemoryStick(char letter = 'E') : letter_(letter) { folders_[{}]; }

    // "a/b/" is a folder, "a/b" a file with `contents`; folders on the way are made.
    void add(const std::string& path, const std::string& contents = {}, bool link = false) {
        VolumePath names;
        size_t at = 0;
        while (at < path.size()) {
            size_t end = path.find('/', at);
            if (end == std::string::npos) end = path.size();
            names.push_back(path.substr(at, end - at));
            at = end + 1;
        }
        const bool folder = !path.empty() && path.back() == '/';
        for (size_t i = 0; i < names.size(); ++i) {
            const VolumePath parent(names.begin(), names.begin() + long(i));
            const VolumePath here(names.begin(), names.begin() + long(i) + 1);
            const bool last = i + 1 == names.size();
            std::vector<VolumeEntry>& entries = folders_[parent];
            bool known = false;
            for (const VolumeEntry& entry : entries) known = known || entry.name == names[i];
            if (known) continue;
            VolumeEntry entry;
            entry.name = names[i];
            entry.is_dir = !last || folder;
            entry.is_link = last && link;
            entries.push_back(entry);
            if (entry.is_dir)
                folders_[here];
            else
                files_[here] = std::vector<uint8_t>(contents.begin(), contents.end());
        }
    }

    VolumeStatus list(const VolumePath& folder, std::vector<VolumeEntry>& entries) override {
        auto found = folders_.find(folder);
        if (found == folders_.end()) return VolumeStatus::not_found;
        entries = found->second;
        return VolumeStatus::ok;
    }
    VolumeStatus read(const VolumePath& file, size_t max_bytes,
                      std::vector<uint8_t>& bytes) override {
        auto found = files_.find(file);
        if (found == files_.end()) return VolumeStatus::not_found;
        bytes.assign(found->second.begin(),
                     found->second.begin() + long(std::min(max_bytes, found->second.size())));
        return VolumeStatus::ok;
    }
    char letter() const override { return letter_; }

  private:
    char letter_;
    std::map<VolumePath, std::vector<VolumeEntry>> folders_;
    std::map<VolumePath, std::vector<uint8_t>> files_;
};
