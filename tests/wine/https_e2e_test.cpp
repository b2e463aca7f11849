// The reporter built for https (brevora-bugreporter-https.exe) against the
// reference server serving TLS: the queries and a whole report over HTTPS,
// and server certificates that the system must refuse. The test authority
// is made afresh by openssl for each run (tests/common/make_test_certificates.sh,
// a CTest fixture) and trusted only in this test's own Wine prefix, for as
// long as the test runs.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/wine/upload_support.h"

namespace {

// The certificates' folder as a Unix path (for the server) and as Wine
// shows it (drive Z:).
const std::string kTlsFolder = BREVORA_TEST_TLS_DIR;

std::wstring WindowsPathOf(const std::string& unixPath)
{
    std::wstring path = L"Z:" + std::wstring(unixPath.begin(), unixPath.end());
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

// The test authority in the local machine's root store, where WinINet looks
// for the issuers it trusts; taken out again at the end. The store writes
// its changes to the registry, where other processes see them, when it is
// closed.
class TrustedTestAuthority : public ::testing::Environment
{
public:
    void SetUp() override
    {
        std::string pem;
        ASSERT_TRUE(ReadFileBytes(WindowsPathOf(kTlsFolder + "/ca.pem"), pem))
            << "no test authority in " << kTlsFolder << ": the fixture wine.https_certificates makes it";
        DWORD size = 0;
        ASSERT_TRUE(CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, NULL, &size, NULL, NULL));
        m_der.resize(size);
        ASSERT_TRUE(CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, m_der.data(), &size, NULL, NULL));
        HCERTSTORE store = OpenRootStore();
        ASSERT_NE(static_cast<HCERTSTORE>(NULL), store) << GetLastError();
        const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, m_der.data(), size,
                                                            CERT_STORE_ADD_REPLACE_EXISTING, NULL);
        const DWORD error = GetLastError();
        CertCloseStore(store, 0);
        ASSERT_TRUE(added) << error;
    }

    void TearDown() override
    {
        HCERTSTORE store = OpenRootStore();
        PCCERT_CONTEXT authority = CertCreateCertificateContext(X509_ASN_ENCODING, m_der.data(),
                                                                static_cast<DWORD>(m_der.size()));
        if (store != NULL && authority != NULL) {
            PCCERT_CONTEXT stored = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING,
                                                               authority, NULL);
            if (stored != NULL)
                CertDeleteCertificateFromStore(stored);  // frees the context too
        }
        if (authority != NULL)
            CertFreeCertificateContext(authority);
        if (store != NULL)
            CertCloseStore(store, 0);
    }

private:
    static HCERTSTORE OpenRootStore()
    {
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    }

    std::vector<BYTE> m_der;
};

::testing::Environment* const g_authority = ::testing::AddGlobalTestEnvironment(new TrustedTestAuthority);

// The server restarted with the named certificate and its key.
::testing::AssertionResult ServeTlsWith(const std::string& name)
{
    std::string error;
    if (!StartReportServer("--tls-cert " + kTlsFolder + "/" + name + ".pem --tls-key " + kTlsFolder + "/" + name +
                               ".key",
                           error))
        return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
}

class Https : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!HaveReportServer())
            GTEST_SKIP() << "run through with_report_server.sh, which names the server";
        UseReporter(L"brevora-bugreporter-https.exe");
        ServeFile("components.txt", "Player\nLibrary\n");
        ServeFile("latest_version.txt", "2.1.0\n");
    }

    void TearDown() override
    {
        RemoveBrevoraKey();
        std::string error;
        EXPECT_TRUE(StopReportServer(error)) << error;
    }
};

TEST_F(Https, TheVersionQueryIsAnsweredOverTls)
{
    ASSERT_TRUE(ServeTlsWith("server"));
    SetInstalledVersion(L"2.0");
    ScratchFolder temp(L"https-version");
    UserDriver driver;
    ASSERT_TRUE(driver.Start(ReporterPath(), L"", ReporterEnvironment(temp.Path())));
    // "2.1.0" came back: the update box offers it.
    HWND offer = driver.WaitForMessageBox(kReporterCaption, kWindowTimeoutMs);
    ASSERT_TRUE(IsMessageBoxWith(driver, offer, kUpdateText, { IDYES, IDNO }));
    ASSERT_TRUE(driver.Click(offer, IDNO));
    ASSERT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << driver.Report();
    EXPECT_EQ(1u, CountServerRequests("GET /bugreport/latest_version 200"));
}

TEST_F(Https, TheComponentsAndAWholeReportTravelOverTls)
{
    ASSERT_TRUE(ServeTlsWith("server"));
    AppLog log("one line\n");
    FormRun run(L"https-report");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    EXPECT_EQ(std::vector<std::wstring>({ L"Player", L"Library" }), ReadComboItems(form, IDC_ELEMENT));
    ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L"me@example.org"));

    HWND box = run.SendAndWaitForBox();
    ASSERT_TRUE(IsThanksBox(run.Driver(), box));
    AcknowledgeThanks(run.Driver(), box);
    std::vector<StoredReport> reports = StoredReports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ("me@example.org", reports[0].fields["email"]);
    EXPECT_EQ("s", reports[0].fields["description1"]);
    EXPECT_EQ("Player", reports[0].fields["component"]);
    EXPECT_EQ("one line\n", reports[0].fields["attachment_log"]);
}

struct RefusedCertificate
{
    const char* name;
    const char* certificate;  // of make_test_certificates.sh
};

class RefusedCertificates : public Https, public ::testing::WithParamInterface<RefusedCertificate> {};

// No query answer, the failure box on Send, nothing stored: a certificate
// the system does not accept is never taken for a server.
TEST_P(RefusedCertificates, FailEveryRequest)
{
    ASSERT_TRUE(ServeTlsWith(GetParam().certificate));
    FormRun run(L"https-refused");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    EXPECT_EQ(std::vector<std::wstring>({ L"Brevora" }), ReadComboItems(form, IDC_ELEMENT)) << "the query failed";
    ASSERT_TRUE(FillForm(run, L"s", L"h", L"x", L""));

    HWND box = run.SendAndWaitForBox();
    ASSERT_TRUE(IsFailureBox(run.Driver(), box, form));
    ASSERT_TRUE(run.Driver().Click(box, IDCANCEL));
    ASSERT_TRUE(run.Driver().WaitForWindowGone(box, 5000));
    EXPECT_EQ(static_cast<HWND>(NULL), run.Driver().WaitForMessageBox(kReporterCaption, 1000)) << "no thanks";
    EXPECT_EQ(0u, CountServerRequests("/bugreport/")) << "no request got through the handshake";
    EXPECT_TRUE(StoredReports().empty());
    ASSERT_TRUE(run.Driver().Click(form, IDC_CANCEL));
    EXPECT_TRUE(run.Driver().WaitForExit(kExitTimeoutMs)) << run.Driver().Report();
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusedCertificates, ::testing::Values(
    RefusedCertificate{ "UntrustedAuthority", "untrusted" },
    RefusedCertificate{ "AnotherHost", "wronghost" }
), [](const ::testing::TestParamInfo<RefusedCertificate>& info) { return std::string(info.param.name); });

}  // namespace
