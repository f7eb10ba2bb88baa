#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Classes.h"

namespace {

struct Probe : TComponent {
    Probe(TComponent* owner, int* deaths) : TComponent(owner), deaths_(deaths) {}
    ~Probe() override { ++*deaths_; }
    int* deaths_;
};

TEST(Component, OwnerDestroysItsComponentsAndAChildLeavesItsOwner) {
    int deaths = 0;
    auto* root = new TComponent(nullptr);
    new Probe(root, &deaths);
    auto* second = new Probe(root, &deaths);
    EXPECT_EQ(root->ComponentCount(), 2u);
    delete second;  // a component destroyed early must not be destroyed again
    EXPECT_EQ(root->ComponentCount(), 1u);
    delete root;
    EXPECT_EQ(deaths, 2);
}

TEST(MemoryStream, WriteSeekReadAndShrink) {
    TMemoryStream m;
    m.WriteText("hello world");
    EXPECT_EQ(m.Size(), 11);
    m.SetPosition(6);
    char buf[16] = {};
    EXPECT_EQ(m.Read(buf, 16), 5);
    EXPECT_STREQ(buf, "world");
    m.SetSize(5);
    EXPECT_EQ(m.Position(), 5);
    EXPECT_EQ(std::string(m.Memory(), m.Bytes()), "hello");
}

TEST(FileStream, CreateAppendAndTheErrorsOfMissingFiles) {
    std::string path = testing::TempDir() + "norv_fs_test.bin";
    {
        TFileStream f(path, TFileStream::fmCreate);
        f.WriteText("abc");
    }
    {
        TFileStream f(path, TFileStream::fmAppend);
        f.WriteText("def");
    }
    {
        TFileStream f(path, TFileStream::fmOpenRead);
        EXPECT_EQ(f.Size(), 6);
        TMemoryStream m;
        m.CopyFrom(f, 0);
        EXPECT_EQ(std::string(m.Memory(), m.Bytes()), "abcdef");
    }
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_THROW(TFileStream(path, TFileStream::fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(testing::TempDir() + "no/such/dir/x", TFileStream::fmCreate), EFCreateError);
}

TEST(StringList, AttachedObjectsAndBounds) {
    TStringList l;
    TObject tag;
    l.Add("one");
    l.Add("two", &tag);
    EXPECT_EQ(l.Objects(1), &tag);
    EXPECT_EQ(l.Text(), "one\r\ntwo\r\n");
    EXPECT_THROW(l.Delete(2), Exception);
    l.Delete(0);
    EXPECT_EQ(l[0], "two");
}

}  // namespace
