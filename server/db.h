// A thin layer over SQLite and PostgreSQL: one connection type that runs the
// same SQL text on either (placeholders are written "?"; PostgreSQL gets
// them renumbered), and a small pool that hands connections to threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// One parameter or result cell. Results come back as TEXT or BLOB (or NUL):
// PostgreSQL answers in text, so numbers are read with AsInt.
struct SqlValue {
    enum Kind { NUL, INT, TEXT, BLOB } kind = NUL;
    int64_t i = 0;
    std::string s;
};
SqlValue SqlInt(int64_t v);
SqlValue SqlText(std::string v);
SqlValue SqlBlob(std::string v);
SqlValue SqlNull();
// The cell as a whole number (0 for NULL or text that is not one).
int64_t AsInt(const SqlValue& v);
using SqlRow = std::vector<SqlValue>;

struct SqlError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class SqlConnection {
public:
    virtual ~SqlConnection() = default;
    // Runs one statement and returns its rows. Throws SqlError.
    virtual std::vector<SqlRow> Run(const std::string& sql, const std::vector<SqlValue>& params = {}) = 0;
    // Rows changed by the last INSERT, UPDATE or DELETE.
    virtual int64_t Changes() = 0;
    virtual bool IsPostgres() const = 0;
    // False once the link to the database server is lost.
    virtual bool Healthy() const { return true; }
    // A write transaction. SQLite takes its write lock at once, so two
    // writers never deadlock upgrading a read lock.
    virtual void Begin() = 0;
    void Commit() { Run("COMMIT"); }
    void Rollback();
};

// "postgresql://...", "postgres://..." or a key=value connection string
// ("host=db dbname=scores") opens PostgreSQL; anything else is a SQLite file (created when missing, in WAL mode). Throws SqlError.
std::unique_ptr<SqlConnection> OpenSql(const std::string& address);
bool IsPostgresAddress(const std::string& address);
// The address with every password as *** (user:PASSWORD@ and password=
// among a URI's query parameters, password= in a key=value string), for logs.
std::string PrintableAddress(const std::string& address);

// Rolls back on scope exit unless committed.
class SqlTransaction {
public:
    explicit SqlTransaction(SqlConnection& c) : c_(c) { c_.Begin(); }
    ~SqlTransaction() {
        if (!done_) c_.Rollback();
    }
    void Commit() {
        c_.Commit();
        done_ = true;
    }

private:
    SqlConnection& c_;
    bool done_ = false;
};

class SqlPool {
public:
    SqlPool(std::string address, int size);
    ~SqlPool();
    // Borrowed connection; returned to the pool when it goes out of scope.
    class Lease {
    public:
        Lease(SqlPool& p, std::unique_ptr<SqlConnection> c) : p_(&p), c_(std::move(c)) {}
        Lease(Lease&& o) noexcept : p_(o.p_), c_(std::move(o.c_)) {}
        ~Lease();
        SqlConnection& operator*() { return *c_; }
        SqlConnection* operator->() { return c_.get(); }
        // The connection failed in a way that may have broken it: the pool
        // opens a new one next time rather than handing this one out again.
        void Discard() { broken_ = true; }

    private:
        SqlPool* p_;
        std::unique_ptr<SqlConnection> c_;
        bool broken_ = false;
    };
    Lease Get();

private:
    std::string address_;
    int size_;
    int open_ = 0;
    std::vector<std::unique_ptr<SqlConnection>> idle_;
    std::mutex m_;
    std::condition_variable cv_;
};
