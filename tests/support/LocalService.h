#pragma once
// The bundled local catalogue service (tools/local-service) for tests of whole runs.
// Either a child process of the test on a free port of 127.0.0.1, ended and reaped when
// the object goes, or the one a CTest fixture started (qm_local_service_fixture in
// tests/support/CMakeLists.txt). Generated data are cached in the build tree per size,
// so only the first start of a size waits for the generation.
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qm::test {

class LocalService {
public:
    // The size the tests use unless they ask for another.
    static constexpr int kTestObjects = 2000;
    // The service's account unless started with --user / --password.
    static constexpr const char* kUser = "observer";
    static constexpr const char* kPassword = "quillmaren";

    // Starts the service with extra switches (for example {"--fail-id", "1"}); throws
    // std::runtime_error when it does not come up. An empty dataRoot means the build
    // tree's cache.
    explicit LocalService(
        const std::vector<std::string>& switches = {}, int objects = kTestObjects, const std::string& dataRoot = {});
    // The service of the CTest fixture `name`; the test needs FIXTURE <name> in qm_add_test.
    static LocalService fixture(const std::string& name);
    ~LocalService();
    LocalService(const LocalService&) = delete;
    LocalService& operator=(const LocalService&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:<port>"
    std::string hostPort() const;
    // "http://127.0.0.1:<port>", or "https://..." for a service started with --tls: the
    // value of both host variables.
    std::string base() const;
    // base() + path
    std::string url(const std::string& path) const;
    // With --tls: the CA that signed the service's certificates (for QUILLMAREN_CA_FILE).
    std::string caFile() const { return dataDir_ + "tls/ca.pem"; }
    // The served data, ending in "/": products.txt, products/, publisher/, source/.
    const std::string& dataDir() const { return dataDir_; }
    // The file name the service gives download number `id`; "" when it has none.
    std::string productName(int id) const;
    // Where that file lies in dataDir().
    std::string productPath(int id) const;
    // Points QUILLMAREN_SERVICE_HOST and QUILLMAREN_PUBLISHER_HOST of this process here.
    void exportHosts() const;

private:
    explicit LocalService(const std::string& portFile);
    void readProducts();
    void stop();

    pid_t pid_ = -1;
    int toChild_ = -1; // its standard input: closing it ends the service too
    int fromChild_ = -1; // its standard output
    int port_ = 0;
    bool tls_ = false;
    std::string dataDir_;
    std::map<int, std::string> products_;
};

} // namespace qm::test
