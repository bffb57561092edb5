// SQLite, libcrypto and libpq each do one thing whose answer is known.
#include <libpq-fe.h>
#include <openssl/sha.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <string>

static int failures = 0;

static void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok)
        ++failures;
}

static void checkSha256() {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>("abc"), 3, digest);
    char hex[2 * SHA256_DIGEST_LENGTH + 1];
    for (int i = 0; i < SHA256_DIGEST_LENGTH; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    // FIPS 180-2's example for "abc".
    check(std::strcmp(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad") == 0,
          "SHA-256 of \"abc\"");
}

static void checkSqlite(const char* folder) {
    check(sqlite3_threadsafe() != 0, "SQLite is built thread-safe");
    // A file, not :memory:, so that Windows file locking and paths are exercised too.
    const std::string path = std::string(folder) + "\\check.sqlite";
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    check(sqlite3_open(path.c_str(), &db) == SQLITE_OK, "SQLite opens a file");
    char* error = nullptr;
    int rc = sqlite3_exec(db,
                          "create table t(k integer primary key, v text);"
                          "insert into t(v) values ('Dichtheit \xc3\xa4\xc3\xb6\xc3\xbc');",
                          nullptr, nullptr, &error);
    check(rc == SQLITE_OK, error ? error : "SQLite writes a row");
    sqlite3_free(error);
    sqlite3_close(db);

    db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "select v, length(v) from t", -1, &st, nullptr);
    bool row = st && sqlite3_step(st) == SQLITE_ROW;
    check(row &&
              std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                          "Dichtheit \xc3\xa4\xc3\xb6\xc3\xbc") == 0 &&
              sqlite3_column_int(st, 1) == 13,
          "SQLite reads the UTF-8 row back after reopening");
    sqlite3_finalize(st);
    sqlite3_close(db);
    std::remove(path.c_str());
}

static void checkLibpq() {
    check(PQlibVersion() / 10000 == 15, "libpq is PostgreSQL 15's");
    const char* library = PQsslAttribute(nullptr, "library");
    check(library && std::strcmp(library, "OpenSSL") == 0, "libpq is built with OpenSSL");
    // Nothing listens on port 1: the connection must fail cleanly, which needs Winsock set up.
    PGconn* conn = PQconnectdb("host=127.0.0.1 port=1 connect_timeout=5 sslmode=prefer");
    check(conn && PQstatus(conn) == CONNECTION_BAD && std::strlen(PQerrorMessage(conn)) > 0,
          "libpq reports a refused connection");
    PQfinish(conn);
}

int main(int argc, char** argv) {
    std::printf("SQLite %s, libpq %d\n", sqlite3_libversion(), PQlibVersion());
    checkSha256();
    checkSqlite(argc > 1 ? argv[1] : ".");
    checkLibpq();
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
