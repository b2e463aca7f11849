// CEmail against the stand-in mail program (tests/wine/mapi_standin). Each
// test picks which mapi32.dll the loader finds through SetDllDirectoryW;
// CTest runs this with WINEDLLOVERRIDES=mapi32=n so Wine's own is never used.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "crash/email.h"
#include "tests/wine/mapi_record.h"
#include "tests/wine/test_support.h"

namespace {

class EmailTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WCHAR temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        WCHAR file[MAX_PATH];
        GetTempFileNameW(temp, L"mr", 0, file);
        m_record = file;
        DeleteFileW(m_record.c_str());
        SetEnvironmentVariableW(L"BREVORA_MAPI_RECORD", m_record.c_str());
        SetEnvironmentVariableW(L"BREVORA_MAPI_RESULT", NULL);
        SetEnvironmentVariableW(L"BREVORA_MAPI_HOLD", NULL);
        UseMailLibrary(L"mapi-full");
    }

    void TearDown() override
    {
        SetDllDirectoryW(NULL);
        DeleteFileW(m_record.c_str());
    }

    // Which stand-in the next LoadLibraryW("mapi32.dll") finds: a folder under bin/.
    static void UseMailLibrary(const wchar_t* folder)
    {
        ASSERT_TRUE(SetDllDirectoryW((GetExeDir() + folder).c_str()));
    }

    MapiRecord Record() const { return ReadMapiRecord(m_record); }

    std::wstring m_record;
};

TEST_F(EmailTest, EmptyMessageStillOpensTheComposeWindow)
{
    {
        CEmail email;
        EXPECT_TRUE(email.Send());
    }
    MapiRecord r = Record();
    ASSERT_EQ(1u, r.sends.size());
    const RecordedSend& s = r.sends[0];
    EXPECT_EQ(0u, s.session);
    EXPECT_EQ(0u, s.uiParam);
    EXPECT_EQ(static_cast<unsigned long>(MAPI_DIALOG), s.flags);
    EXPECT_FALSE(s.originatorSet);
    EXPECT_EQ(0u, s.recipCount);
    EXPECT_FALSE(s.recipsSet);
    EXPECT_EQ(0u, s.fileCount);
    EXPECT_FALSE(s.filesSet);
    EXPECT_FALSE(s.subjectNull) << "an empty subject is empty text, not null";
    EXPECT_EQ("", s.subject);
    EXPECT_FALSE(s.noteTextNull) << "an empty text is empty text, not null";
    EXPECT_EQ("", s.noteText);
    EXPECT_TRUE(s.messageTypeNull);
    EXPECT_EQ(1, r.attaches);
    EXPECT_EQ(1, r.detaches) << "the destructor releases a loaded library";
}

TEST_F(EmailTest, OriginatorOnly)
{
    {
        CEmail email;
        email.SetFrom("crash@brevora.org", "");
        email.SetSubject("Subject");
        email.SetBody("Body\r\nline two");
        email.Send();
    }
    ASSERT_EQ(1u, Record().sends.size());
    const RecordedSend s = Record().sends[0];
    ASSERT_TRUE(s.originatorSet);
    EXPECT_EQ(static_cast<unsigned long>(MAPI_ORIG), s.originator.recipClass);
    EXPECT_EQ("crash@brevora.org", s.originator.address);
    EXPECT_FALSE(s.originator.nameNull);
    EXPECT_EQ("", s.originator.name);
    EXPECT_TRUE(s.originator.entryIdNull);
    EXPECT_EQ(0u, s.recipCount);
    EXPECT_FALSE(s.recipsSet);
    EXPECT_EQ("Subject", s.subject);
    EXPECT_EQ("Body\r\nline two", s.noteText);
}

TEST_F(EmailTest, RecipientsArriveInAddressOrderAfterTheOriginator)
{
    {
        CEmail email;
        email.AddTo("zoe@example.org", "Zoe");
        email.AddTo("adam@example.org", "Adam");
        email.SetFrom("me@example.org", "Me");
        email.Send();
    }
    ASSERT_EQ(1u, Record().sends.size());
    const RecordedSend s = Record().sends[0];
    ASSERT_TRUE(s.originatorSet);
    EXPECT_EQ("me@example.org", s.originator.address);
    EXPECT_EQ("Me", s.originator.name);
    ASSERT_EQ(2u, s.recipCount);
    ASSERT_TRUE(s.recipsSet);
    ASSERT_EQ(2u, s.recips.size());
    EXPECT_EQ("adam@example.org", s.recips[0].address);
    EXPECT_EQ("Adam", s.recips[0].name);
    EXPECT_EQ("zoe@example.org", s.recips[1].address);
    for (const RecordedRecip& recip : s.recips)
        EXPECT_EQ(static_cast<unsigned long>(MAPI_TO), recip.recipClass);
}

TEST_F(EmailTest, SamePathTwiceGivesOneAttachmentUnderTheLastName)
{
    {
        CEmail email;
        email.AddAttachment("C:\\crash\\same.bin", "first.dmp").AddAttachment("C:\\crash\\same.bin", "second.log");
        email.AddAttachment("C:\\crash\\A.bin", "a.conf");
        email.Send();
    }
    ASSERT_EQ(1u, Record().sends.size());
    const RecordedSend s = Record().sends[0];
    ASSERT_EQ(2u, s.fileCount);
    ASSERT_TRUE(s.filesSet);
    ASSERT_EQ(2u, s.files.size());
    EXPECT_EQ("C:\\crash\\A.bin", s.files[0].path);  // byte order: 'A' < 's'
    EXPECT_EQ("a.conf", s.files[0].name);
    EXPECT_EQ("C:\\crash\\same.bin", s.files[1].path);
    EXPECT_EQ("second.log", s.files[1].name);
    for (const RecordedFile& f : s.files) {
        EXPECT_EQ(0u, f.reserved);
        EXPECT_EQ(0u, f.flags);
        EXPECT_EQ(0xFFFFFFFFu, f.position);
        EXPECT_TRUE(f.fileTypeNull);
    }
}

TEST_F(EmailTest, LibraryWithoutLogoffIsNotUsedAndRetriedAtEachOperation)
{
    UseMailLibrary(L"mapi-nologoff");
    {
        CEmail email;
        email.AddTo("a@example.org", "A");
        email.AddAttachment("C:\\x", "x");
        email.SetFrom("b@example.org", "B");
        EXPECT_FALSE(email.Send());

        // The full library is found at the next operation and then used.
        UseMailLibrary(L"mapi-full");
        EXPECT_TRUE(email.Send());
    }
    MapiRecord r = Record();
    EXPECT_EQ(5, r.attaches) << "four tries with the incomplete library, one with the full one";
    EXPECT_EQ(5, r.detaches) << "each incomplete library released at once, the full one by the destructor";
    ASSERT_EQ(1u, r.sends.size());
    EXPECT_FALSE(r.sends[0].originatorSet) << "nothing was added while the library was unusable";
    EXPECT_EQ(0u, r.sends[0].recipCount);
    EXPECT_EQ(0u, r.sends[0].fileCount);
}

TEST_F(EmailTest, NoLibraryAtAll)
{
    UseMailLibrary(L"mapi-none");
    {
        CEmail email;
        email.AddTo("a@example.org", "A");
        EXPECT_FALSE(email.Send());
    }
    MapiRecord r = Record();
    EXPECT_EQ(0, r.attaches);
    EXPECT_TRUE(r.sends.empty());
}

TEST_F(EmailTest, SubjectAndBodyAloneDoNotLoadTheLibrary)
{
    {
        CEmail email;
        email.SetSubject("s");
        email.SetBody("b");
    }
    MapiRecord r = Record();
    EXPECT_EQ(0, r.attaches);
    EXPECT_EQ(0, r.detaches);
}

struct ResultCase
{
    const char* name;
    const wchar_t* result;
    bool sent;
};

class EmailResultTest : public EmailTest, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(EmailResultTest, SendIsTrueOnlyForSuccess)
{
    SetEnvironmentVariableW(L"BREVORA_MAPI_RESULT", GetParam().result);
    CEmail email;
    email.AddTo("a@example.org", "");
    EXPECT_EQ(GetParam().sent, email.Send());
    EXPECT_EQ(GetParam().sent, email.Send()) << "a message may be sent again";
}

INSTANTIATE_TEST_SUITE_P(Results, EmailResultTest,
                         ::testing::Values(ResultCase{ "Success", L"SUCCESS_SUCCESS", true },
                                           ResultCase{ "UserAbort", L"MAPI_USER_ABORT", false },
                                           ResultCase{ "Failure", L"MAPI_E_FAILURE", false }),
                         [](const ::testing::TestParamInfo<ResultCase>& info) { return std::string(info.param.name); });

}  // namespace
