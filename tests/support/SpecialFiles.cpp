#include "tests/support/SpecialFiles.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>

namespace veltrano::test {

bool SpecialOutputs::HasDevice() const { return made.size() == 3; }

bool MakeSpecialOutputs(const std::string& folder, SpecialOutputs& out) {
    out.fifo = folder + "/fifo.wav";
    out.folder = folder + "/folder.wav";
    out.device = folder + "/device.wav";
    if (::mkfifo(out.fifo.c_str(), 0644) != 0 || ::mkdir(out.folder.c_str(), 0755) != 0) return false;
    out.made = {{out.fifo, "a FIFO"}, {out.folder, "a folder"}};
    if (::mknod(out.device.c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0)
        out.made.emplace_back(out.device, "a character device");
    return true;
}

void ExpectSpecialOutputsUntouched(const SpecialOutputs& special) {
    struct stat st {};
    ASSERT_EQ(::lstat(special.fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::lstat(special.folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(QDir(QString::fromStdString(special.folder)).isEmpty());
    if (special.HasDevice()) {
        ASSERT_EQ(::lstat(special.device.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        EXPECT_EQ(st.st_rdev, makedev(1, 3));
    }
}

void RemoveSpecialOutputs(const SpecialOutputs& special) {
    for (const std::string& path : {special.fifo, special.folder, special.device}) std::remove(path.c_str());
}

}  // namespace veltrano::test
