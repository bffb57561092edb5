// The PostgreSQL server of the plant tests (started by tests/support/plant_server.sh as a CTest
// fixture; its URIs come through the file PP_PLANT_INFO names), and a server that never answers.
#pragma once

#include "history/recording.h"
#include "history/server.h"

#include <QFile>
#include <QProcess>
#include <QString>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pp::test {

class PlantServer {
public:
    // Why no server runs; empty when one does.
    QString skipReason() const { return skip_; }

    bool load() {
        QFile f(qEnvironmentVariable("PP_PLANT_INFO"));
        if (!f.open(QIODevice::ReadOnly)) {
            skip_ = QStringLiteral("no plant server: run through ctest (PP_PLANT_INFO)");
            return false;
        }
        for (const QByteArray& line : f.readAll().split('\n'))
            if (const qsizetype eq = line.indexOf('='); eq > 0)
                values_[line.left(eq).toStdString()] = line.mid(eq + 1).toStdString();
        skip_ = QString::fromStdString(value("PP_PLANT_SKIP"));
        // Passwords for URIs given on a command line, where none may be.
        qputenv("PGPASSFILE", QByteArray::fromStdString(value("PP_PLANT_PGPASS")));
        return skip_.isEmpty();
    }

    std::string value(const std::string& key) const {
        const auto it = values_.find(key);
        return it == values_.end() ? std::string() : it->second;
    }
    std::string uri() const { return value("PP_PLANT_URI"); }       // a PC: insert and read
    std::string other() const { return value("PP_PLANT_OTHER"); }   // another PC's login
    std::string reader() const { return value("PP_PLANT_READER"); } // read only
    // A login's URI without its password (from the password file), on database `db`.
    std::string login(const std::string& name, const std::string& db = "plant") const {
        return "postgresql://" + name + "@" + value("PP_PLANT_HOST") + "/" + db;
    }
    std::string admin() const { return value("PP_PLANT_ADMIN"); } // the superuser
    std::string bare() const { return value("PP_PLANT_BARE"); }   // never set up
    std::string newer() const { return value("PP_PLANT_NEWER"); } // a newer version's tables
    std::string port() const { return value("PP_PLANT_PORT"); }

    // The server stopped (its data kept) and started again.
    bool halt() const { return script("halt"); }
    bool resume() const { return script("resume"); }
    // The file `sql` run with psql on database `db` as the superuser.
    bool psql(const std::string& db, const QString& sql) const {
        return script("psql", {QString::fromStdString(db), sql});
    }
    // Every entry and every PC gone, the IDs counting from 1 again; this machine registered
    // as the PC of both PC logins, as plant IT does it.
    // The plant's people, as plant IT names them: Ann, whose account on this PC makes the
    // tests' transfers; Bob, of another account; Carl, no approver.
    bool clear() const {
        return sql("TRUNCATE paramporter.entry, paramporter.source, paramporter.pc, "
                   "paramporter.signature, paramporter.person_account, paramporter.person "
                   "RESTART IDENTITY")
                   .has_value() &&
               registerPc(pp::history::hostName(), "pc") &&
               registerPc(pp::history::hostName(), "pc2") &&
               registerPerson("ann", "Ann Approver", pp::history::accountName()) &&
               registerPerson("bob", "Bob Berger", "bob") &&
               registerPerson("carl", "Carl Clerk", "carl");
    }
    bool registerPerson(const std::string& login, const std::string& name,
                        const std::string& account) const {
        pp::history::Connection it;
        return it.open(this->login("it"), {}) &&
               it.exec("SELECT 'ok'::text FROM paramporter.register_person($1, $2, ARRAY[$3])",
                       {{login, false, false}, {name, false, false}, {account, false, false}})
                   .has_value();
    }
    // `host` registered to `login` on database `db` by plant IT's login.
    bool registerPc(const std::string& host, const std::string& login,
                    const std::string& db = "plant") const {
        pp::history::Plant it;
        return it.open(this->login("it", db), {}) && it.registerPc(host, login).has_value();
    }

    // One statement as the superuser; its rows, or nothing when it failed.
    std::optional<std::vector<pp::history::Connection::Row>> sql(const std::string& text) const {
        pp::history::Connection c;
        if (!c.open(admin(), {}))
            return std::nullopt;
        return c.exec(text);
    }
    // (source, local ID) of every entry, in the order the server took them.
    std::vector<std::pair<std::string, long long>> entries() const {
        std::vector<std::pair<std::string, long long>> out;
        if (const auto rows = sql("SELECT source::text, local_id::text FROM paramporter.entry "
                                  "ORDER BY id"))
            for (const auto& r : *rows)
                out.emplace_back(r[0].value_or(""), std::stoll(r[1].value_or("0")));
        return out;
    }

private:
    bool script(const char* action, const QStringList& more = {}) const {
        return QProcess::execute(
                   QStringLiteral(PP_PLANT_SCRIPT),
                   QStringList{QString::fromLatin1(action), qEnvironmentVariable("PP_PLANT_INFO")} +
                       more) == 0;
    }

    std::map<std::string, std::string> values_;
    QString skip_;
};

// A port on 127.0.0.1 that takes no connection: its queue is full, so a connect waits until
// the caller gives up, as for an address that drops every packet.
class BlackHole {
public:
    BlackHole() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
            ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        port_ = ntohs(a.sin_port);
        filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            port_ = 0;
    }
    ~BlackHole() {
        ::close(filler_);
        ::close(listener_);
    }
    BlackHole(const BlackHole&) = delete;
    BlackHole& operator=(const BlackHole&) = delete;
    int port() const { return port_; }

private:
    int listener_ = -1;
    int filler_ = -1;
    int port_ = 0;
};

} // namespace pp::test
