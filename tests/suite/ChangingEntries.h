// Entries that change while a listing examines them: files f0 ... f<count-1>
// of i % 7 bytes, of which a thread removes those with i % 4 == 1 and replaces
// those with i % 4 == 2 by directories. Whichever moment each examination
// hits, a record must describe its own entry: as it was, as it became, or as
// the fallback of an entry that was gone.
#pragma once

#include "JvmHarness.h"

#include "FileSystemCommon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace jvmtest {

class ChangingEntries {
public:
    ChangingEntries(std::string directory, int count) : directory_(std::move(directory)), count_(count)
    {
        for (int i = 0; i < count_; ++i) {
            const int fd = open(Path(i).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            EXPECT_LE(0, fd) << Path(i);
            EXPECT_EQ(0, ftruncate(fd, i % 7));
            close(fd);
        }
    }

    ~ChangingEntries() { Join(); }

    // Starts changing the entries, last first, on a thread of its own.
    void Start()
    {
        changer_ = std::thread([this] {
            for (int i = count_ - 1; i >= 0; --i) {
                if (i % 4 == 1) {
                    unlink(Path(i).c_str());
                } else if (i % 4 == 2) {
                    unlink(Path(i).c_str());
                    mkdir(Path(i).c_str(), 0755);
                }
            }
            done_.store(true);
        });
    }

    // Whether the thread is still changing entries.
    bool Changing() const { return !done_.load(); }

    void Join()
    {
        if (changer_.joinable()) {
            changer_.join();
        }
    }

    // Every record is one of the entries, described as it was at some moment;
    // every entry left alone is listed once, with its own size.
    void ExpectConsistent(const std::vector<Record> &records) const
    {
        std::set<int> unchanged;
        for (const Record &record : records) {
            ASSERT_EQ('f', record.name[0]) << record.name;
            const int i = std::stoi(record.name.substr(1));
            ASSERT_LT(i, count_) << record.name;
            const bool fallback = record.modified == 0;
            const bool directory = (record.attributes & ATTR_DIRECTORY) != 0;
            if (i % 4 == 0 || i % 4 == 3) {
                EXPECT_TRUE(unchanged.insert(i).second) << record.name << " listed twice";
                EXPECT_FALSE(fallback || directory) << record.name;
            }
            if (!fallback && !directory) {
                EXPECT_EQ(i % 7, record.size) << record.name << " holds another entry's status";
            }
            if (directory) {
                EXPECT_EQ(2, i % 4) << record.name << " is no directory";
            }
        }
        EXPECT_EQ(static_cast<size_t>((count_ + 3) / 4 + (count_ + 0) / 4), unchanged.size());
    }

private:
    std::string Path(int i) const { return directory_ + "/f" + std::to_string(i); }

    std::string directory_;
    int count_;
    std::thread changer_;
    std::atomic<bool> done_{false};
};

} // namespace jvmtest
