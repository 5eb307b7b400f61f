#include "History.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "cli/ExitStatus.h"
#include "cli/Terminal.h"
#include "editor/BlockFields.h"

namespace {

constexpr int kSchemaVersion = 1;
// Another station writing holds the database for a few milliseconds; a long wait means
// something is wrong, and the unit fails rather than the station hanging.
constexpr int kBusyMs = 10000;

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS runs ("
    " id INTEGER PRIMARY KEY,"
    " time TEXT NOT NULL, station TEXT NOT NULL, operator TEXT NOT NULL,"
    " toolVersion TEXT NOT NULL, job TEXT NOT NULL, jobSha256 TEXT NOT NULL,"
    " device TEXT NOT NULL, serial INTEGER, version TEXT NOT NULL,"
    " command TEXT NOT NULL, file TEXT NOT NULL, result TEXT NOT NULL,"
    " exitCode INTEGER NOT NULL, message TEXT NOT NULL, planned TEXT NOT NULL,"
    " note TEXT NOT NULL, again INTEGER NOT NULL,"
    " hookStatus INTEGER, hookOutput TEXT)",
    "CREATE INDEX IF NOT EXISTS runsBySerial ON runs (serial, id)",
    "CREATE INDEX IF NOT EXISTS runsByTime ON runs (time)",
    "CREATE TABLE IF NOT EXISTS fields ("
    " run INTEGER NOT NULL, field TEXT NOT NULL, sent TEXT, readBack TEXT,"
    " PRIMARY KEY (run, field)) WITHOUT ROWID",
};

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string s(const QVariant& value) {
    return value.toString().toStdString();
}

std::string dbError(const QSqlError& error) {
    const std::string text = error.text().toStdString();
    return text.empty() ? "unknown error" : text;
}

bool makeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

}  // namespace

History::History() {
    static std::atomic<unsigned> counter{0};
    m_connection = "vxconf-history-" + std::to_string(counter++);
}

History::~History() {
    if (QSqlDatabase::contains(q(m_connection))) {
        QSqlDatabase::database(q(m_connection), false).close();
    }
    QSqlDatabase::removeDatabase(q(m_connection));
}

std::string History::defaultPath() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/vxconf/history.sqlite";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.local/share/vxconf/history.sqlite";
}

bool History::exec(const char* sql, std::string& error) {
    QSqlQuery query(QSqlDatabase::database(q(m_connection), false));
    if (!query.exec(QString::fromLatin1(sql))) {
        error = dbError(query.lastError());
        return false;
    }
    return true;
}

bool History::open(const std::string& path, std::string& error) {
    m_path = path;
    const auto fail = [&](const std::string& why) {
        error = "Unable to use the history \"" + path + "\": " + why;
        m_open = false;
        return false;
    };
    if (!QSqlDatabase::isDriverAvailable("QSQLITE")) {
        return fail("Qt's SQLite driver is not installed (libqt6sql6-sqlite)");
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return fail("not a regular file");
    }
    if (!makeFolders(path)) {
        return fail(std::string("its folder cannot be made (") + std::strerror(errno) + ")");
    }
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", q(m_connection));
    db.setDatabaseName(q(path));
    db.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyMs));
    if (!db.open()) {
        return fail(dbError(db.lastError()));
    }
    std::string why;
    // WAL lets readers and one writer work at once; FULL makes each run's row survive a
    // power cut. BEGIN IMMEDIATE takes the write lock: a database that cannot be written is
    // found here, before any unit is touched.
    if (!exec("PRAGMA journal_mode=WAL", why) || !exec("PRAGMA synchronous=NORMAL", why) ||
        !exec("PRAGMA foreign_keys=OFF", why) || !exec("BEGIN IMMEDIATE", why)) {
        return fail(why);
    }
    QSqlQuery version(db);
    if (!version.exec("PRAGMA user_version") || !version.next()) {
        exec("ROLLBACK", why);
        return fail(dbError(version.lastError()));
    }
    const int found = version.value(0).toInt();
    version.finish();
    if (found > kSchemaVersion) {
        exec("ROLLBACK", why);
        return fail("it was made by a newer VXCONF");
    }
    for (const char* sql : kSchema) {
        if (!exec(sql, why)) {
            exec("ROLLBACK", why);
            return fail(why);
        }
    }
    QSqlQuery columns(db);
    if (!columns.exec("SELECT id, time, serial, jobSha256, hookOutput FROM runs LIMIT 0") ||
        !exec("SELECT run, field, sent, readBack FROM fields LIMIT 0", why)) {
        exec("ROLLBACK", why);
        return fail("it is not a VXCONF history");
    }
    columns.finish();
    if ((found == 0 && !exec("PRAGMA user_version=1", why)) || !exec("COMMIT", why)) {
        exec("ROLLBACK", why);
        return fail(why);
    }
    m_open = true;
    return true;
}

std::optional<std::int64_t> History::record(const Run& run, std::string& error) {
    QSqlDatabase db = QSqlDatabase::database(q(m_connection), false);
    std::string why;
    bool begun = false;
    const auto fail = [&](const std::string& text) {
        std::string ignored;
        if (begun) {
            exec("ROLLBACK", ignored);
        }
        error = "Unable to write the history \"" + m_path + "\": " + text;
        return std::nullopt;
    };
    if (!m_open || !exec("BEGIN IMMEDIATE", why)) {
        return fail(m_open ? why : "it is not open");
    }
    begun = true;
    const UnitResult& unit = run.unit;
    QSqlQuery insert(db);
    insert.prepare(
        "INSERT INTO runs (time, station, operator, toolVersion, job, jobSha256, device, serial,"
        " version, command, file, result, exitCode, message, planned, note, again)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    const bool number = !unit.serial.empty() && unit.serial.size() <= 5 &&
                        unit.serial.find_first_not_of("0123456789") == std::string::npos;
    for (const std::string* text :
         {&unit.time, &unit.station, &unit.operatorName, static_cast<const std::string*>(nullptr),
          &unit.job, &unit.jobSha256, &run.device}) {
        insert.addBindValue(text != nullptr ? q(*text) : QString(VXCONF_VERSION));
    }
    insert.addBindValue(number ? QVariant(std::stoi(unit.serial)) : QVariant());
    for (const std::string* text : {&unit.version, &run.command, &run.file, &unit.result}) {
        insert.addBindValue(q(*text));
    }
    insert.addBindValue(unit.code);
    for (const std::string* text : {&unit.message, &unit.planned, &unit.note}) {
        insert.addBindValue(q(*text));
    }
    insert.addBindValue(run.again ? 1 : 0);
    if (!insert.exec()) {
        return fail(dbError(insert.lastError()));
    }
    const std::int64_t id = insert.lastInsertId().toLongLong();
    // Field by field: what was sent, and what the check read back.
    std::map<std::string, std::pair<QVariant, QVariant>> fields;
    for (const auto& [field, value] : unit.sent) {
        fields[field].first = q(value);
    }
    for (const auto& [field, value] : unit.readBack) {
        fields[field].second = q(value);
    }
    if (!fields.empty()) {
        QVariantList runs;
        QVariantList names;
        QVariantList sent;
        QVariantList readBack;
        for (const auto& [field, values] : fields) {
            runs << QVariant::fromValue<qlonglong>(id);
            names << q(field);
            sent << values.first;
            readBack << values.second;
        }
        QSqlQuery values(db);
        values.prepare(
            "INSERT OR REPLACE INTO fields (run, field, sent, readBack) VALUES (?, ?, ?, ?)");
        values.addBindValue(runs);
        values.addBindValue(names);
        values.addBindValue(sent);
        values.addBindValue(readBack);
        if (!values.execBatch()) {
            return fail(dbError(values.lastError()));
        }
    }
    if (!exec("COMMIT", why)) {
        return fail(why);
    }
    return id;
}

bool History::recordHook(std::int64_t id, std::optional<int> status, const std::string& output,
                         std::string& error) {
    QSqlQuery update(QSqlDatabase::database(q(m_connection), false));
    update.prepare("UPDATE runs SET hookStatus = ?, hookOutput = ? WHERE id = ?");
    update.addBindValue(status ? QVariant(*status) : QVariant());
    update.addBindValue(q(output));
    update.addBindValue(QVariant::fromValue<qlonglong>(id));
    if (!m_open || !update.exec()) {
        error = "Unable to write the history \"" + m_path +
                "\": " + (m_open ? dbError(update.lastError()) : "it is not open");
        return false;
    }
    return true;
}

bool History::lastOk(const std::string& serial, const std::string& jobSha256, bool sameJob,
                     std::optional<Earlier>& found, std::string& error) {
    found.reset();
    if (!m_open) {
        error = "Unable to read the history \"" + m_path + "\": it is not open";
        return false;
    }
    QSqlQuery query(QSqlDatabase::database(q(m_connection), false));
    query.prepare(QString("SELECT time, job, jobSha256 FROM runs WHERE serial = ? AND "
                          "result = 'ok' AND ") +
                  (sameJob ? "jobSha256 = ?" : "jobSha256 <> ? AND jobSha256 <> ''") +
                  " ORDER BY id DESC LIMIT 1");
    query.addBindValue(QVariant(std::atoi(serial.c_str())));
    query.addBindValue(q(jobSha256));
    if (!m_open || !query.exec()) {
        error = "Unable to read the history \"" + m_path +
                "\": " + (m_open ? dbError(query.lastError()) : "it is not open");
        return false;
    }
    if (query.next()) {
        found = Earlier{s(query.value(0)), s(query.value(1)), s(query.value(2))};
    }
    return true;
}

bool History::runs(const std::string& serial, const std::string& since, bool withFields,
                   std::vector<Run>& out, std::string& error) {
    out.clear();
    QSqlDatabase db = QSqlDatabase::database(q(m_connection), false);
    QString sql =
        "SELECT id, time, station, operator, toolVersion, job, jobSha256, device, serial,"
        " version, command, file, result, exitCode, message, planned, note, again, hookStatus,"
        " hookOutput FROM runs WHERE 1";
    if (!serial.empty()) {
        sql += " AND serial = :serial";
    }
    if (!since.empty()) {
        sql += " AND time >= :since";
    }
    sql += " ORDER BY id DESC";
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(sql);
    if (!serial.empty()) {
        query.bindValue(":serial", std::atoi(serial.c_str()));
    }
    if (!since.empty()) {
        query.bindValue(":since", q(since));
    }
    if (!m_open || !query.exec()) {
        error = "Unable to read the history \"" + m_path +
                "\": " + (m_open ? dbError(query.lastError()) : "it is not open");
        return false;
    }
    while (query.next()) {
        Run run;
        int column = 0;
        run.id = query.value(column++).toLongLong();
        UnitResult& unit = run.unit;
        for (std::string* text : {&unit.time, &unit.station, &unit.operatorName}) {
            *text = s(query.value(column++));
        }
        run.toolVersion = s(query.value(column++));
        unit.job = s(query.value(column++));
        unit.jobSha256 = s(query.value(column++));
        run.device = s(query.value(column++));
        unit.serial = query.value(column).isNull() ? std::string() : s(query.value(column));
        column++;
        unit.version = s(query.value(column++));
        run.command = s(query.value(column++));
        run.file = s(query.value(column++));
        unit.result = s(query.value(column++));
        unit.code = query.value(column++).toInt();
        unit.message = s(query.value(column++));
        unit.planned = s(query.value(column++));
        unit.note = s(query.value(column++));
        run.again = query.value(column++).toInt() != 0;
        if (!query.value(column).isNull()) {
            run.hookStatus = query.value(column).toInt();
        }
        column++;
        run.hookOutput = s(query.value(column++));
        unit.name = run.device;
        out.push_back(std::move(run));
    }
    if (!withFields) {
        return true;
    }
    QSqlQuery values(db);
    values.setForwardOnly(true);
    values.prepare("SELECT field, sent, readBack FROM fields WHERE run = ?");
    for (Run& run : out) {
        values.bindValue(0, QVariant::fromValue<qlonglong>(run.id));
        if (!values.exec()) {
            error = "Unable to read the history \"" + m_path + "\": " + dbError(values.lastError());
            return false;
        }
        while (values.next()) {
            const std::string field = s(values.value(0));
            if (!values.value(1).isNull()) {
                run.unit.sent.emplace_back(field, s(values.value(1)));
            }
            if (!values.value(2).isNull()) {
                run.unit.readBack.emplace_back(field, s(values.value(2)));
            }
        }
    }
    return true;
}

namespace {

// The database's order is the field name's; a person reads them in the windows' order.
void sortFields(FieldValues& values) {
    std::map<std::string, std::size_t> order;
    for (const BlockField& field : blockFields()) {
        order.emplace(field.name, order.size());
    }
    std::stable_sort(values.begin(), values.end(), [&order](const auto& a, const auto& b) {
        const auto rank = [&order](const std::string& name) {
            const auto found = order.find(name);
            return found == order.end() ? order.size() : found->second;
        };
        return rank(a.first) < rank(b.first);
    });
}

std::string shortHash(const std::string& sha) {
    return sha.substr(0, 12);
}

}  // namespace

std::string historyText(const std::vector<History::Run>& runs, bool story) {
    std::string text;
    for (History::Run run : runs) {
        const UnitResult& unit = run.unit;
        std::string line = unit.time + "  " + (unit.serial.empty() ? "-" : unit.serial) + "  " +
                           unit.result + "  " + run.device + "  " + run.command +
                           (run.file.empty() ? "" : " " + run.file);
        if (!unit.job.empty()) {
            line += "  job " + unit.job + " (" + shortHash(unit.jobSha256) + ")";
        }
        if (!unit.operatorName.empty()) {
            line += "  operator " + unit.operatorName;
        }
        line += "  station " + unit.station;
        text += terminalText(line) + "\n";
        if (!story) {
            continue;
        }
        const auto detail = [&text](const std::string& words) {
            text += "    " + terminalText(words) + "\n";
        };
        detail("vxconf-cli " + run.toolVersion +
               (unit.version.empty() ? "" : ", firmware " + unit.version));
        if (run.again) {
            detail("provisioned again (--again)");
        }
        if (!unit.note.empty()) {
            detail(unit.note);
        }
        if (!unit.planned.empty()) {
            detail("planned " + unit.planned);
        }
        if (unit.result != "ok" && !unit.message.empty()) {
            std::string message = unit.message;
            for (char& c : message) {
                c = c == '\n' ? ' ' : c;
            }
            detail("message: " + message);
        }
        if (run.hookStatus || !run.hookOutput.empty()) {
            detail("hook: " + (run.hookStatus ? "exit " + std::to_string(*run.hookStatus) : "") +
                   (run.hookStatus && !run.hookOutput.empty() ? ": " : "") + run.hookOutput);
        }
        sortFields(run.unit.sent);
        std::map<std::string, std::string> readBack(unit.readBack.begin(), unit.readBack.end());
        for (const auto& [field, value] : run.unit.sent) {
            const auto back = readBack.find(field);
            std::string words = field + " = " + value;
            if (back != readBack.end() && back->second != value) {
                words += " (read back " + back->second + ")";
            } else if (back == readBack.end() && !readBack.empty()) {
                words += " (not read back)";
            }
            detail(words);
        }
    }
    return text;
}

std::string historyJson(const History::Run& run) {
    const UnitResult& unit = run.unit;
    const auto object = [](const FieldValues& values) {
        std::string json = "{";
        for (std::size_t i = 0; i < values.size(); ++i) {
            json += (i == 0 ? "" : ",") + jsonString(values[i].first) + ":" +
                    jsonString(values[i].second);
        }
        return json + "}";
    };
    std::string json =
        "{\"time\":" + jsonString(unit.time) + ",\"station\":" + jsonString(unit.station) +
        ",\"operator\":" + jsonString(unit.operatorName) +
        ",\"toolVersion\":" + jsonString(run.toolVersion) + ",\"job\":" + jsonString(unit.job) +
        ",\"jobSha256\":" + jsonString(unit.jobSha256) + ",\"unit\":" + jsonString(run.device) +
        ",\"serialNumber\":" + (unit.serial.empty() ? "null" : unit.serial) +
        ",\"version\":" + jsonString(unit.version) + ",\"command\":" + jsonString(run.command) +
        ",\"file\":" + jsonString(run.file) + ",\"result\":" + jsonString(unit.result) +
        ",\"exitCode\":" + std::to_string(unit.code) + ",\"message\":" + jsonString(unit.message) +
        ",\"planned\":" + jsonString(unit.planned) + ",\"note\":" + jsonString(unit.note) +
        ",\"again\":" + (run.again ? "true" : "false") + ",\"hook\":";
    if (run.hookStatus || !run.hookOutput.empty()) {
        json += "{\"status\":" + (run.hookStatus ? std::to_string(*run.hookStatus) : "null") +
                ",\"output\":" + jsonString(run.hookOutput) + "}";
    } else {
        json += "null";
    }
    return json + ",\"sent\":" + object(unit.sent) + ",\"readBack\":" + object(unit.readBack) + "}";
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return "localhost";
    }
    return name;
}

std::string sinceTime(const std::string& date) {
    const auto digits = [&date](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i) {
            if (i >= date.size() || date[i] < '0' || date[i] > '9') {
                return false;
            }
        }
        return true;
    };
    const bool day = date.size() >= 10 && digits(0, 4) && date[4] == '-' && digits(5, 2) &&
                     date[7] == '-' && digits(8, 2);
    if (day && date.size() == 10) {
        return date + "T00:00:00Z";
    }
    if (day && date.size() == 20 && date[10] == 'T' && digits(11, 2) && date[13] == ':' &&
        digits(14, 2) && date[16] == ':' && digits(17, 2) && date[19] == 'Z') {
        return date;
    }
    return {};
}
