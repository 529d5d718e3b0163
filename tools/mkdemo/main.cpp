// mkdemo: lays out a run folder for the launcher with demo data.
//
//   mkdemo <run-folder> <report-index>
//
// Writes Rpt.udl + rpt.db (a SQLite catalogue with three reports), posdata.fdb (an
// embedded Firebird business database of character set NONE holding Big5 text, as the
// shops' databases do), dbxconnections.ini naming it, and Bramwix.dat (the company file).
// Existing demo files in the folder are replaced; nothing else there is touched.

#include "platform/cds/CdsFile.h"
#include "platform/firebird/FbConnection.h"
#include "platform/db/DbErrors.h"
#include "platform/text/DataLink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

using namespace rpt;

namespace {

[[noreturn]] void die(const QString &msg)
{
    std::fprintf(stderr, "mkdemo: %s\n", qPrintable(msg));
    std::exit(1);
}

void writeUdl(const QString &dir)
{
    writeDataLinkFile(dir + "/Rpt.udl", "Provider=SQLite;Data Source=rpt.db");
}

void makeCatalogue(const QString &dir, const QString &index)
{
    const QString file = dir + "/rpt.db";
    QFile::remove(file);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "demo");
        db.setDatabaseName(file);
        if (!db.open())
            die(db.lastError().text());
        QSqlQuery q(db);
        const auto run = [&](const QString &sql) {
            if (!q.exec(sql))
                die(q.lastError().text() + ": " + sql);
        };
        run("CREATE TABLE RPT_MASTER (rpt_index VARCHAR(50), rpt_id VARCHAR(5), rpt_name VARCHAR(50), "
            "rpt_Table VARCHAR(50), rpt_SQLScript TEXT, rpt_order VARCHAR(50), rpt_tempfile VARCHAR(100), rpt_footer TEXT)");
        run("CREATE TABLE RPT_SUB (rpt_id VARCHAR(5), params_item VARCHAR(10), params_label VARCHAR(30), "
            "params_type VARCHAR(10), default_value VARCHAR(50))");
        const QString tpl = QDir(dir).absoluteFilePath("templates") + "/";
        const QString footer = QString::fromUtf8("製表：＿＿＿＿＿　　店長：＿＿＿＿＿　　會計：＿＿＿＿＿");
        struct R { const char *id, *name, *table, *sql, *order, *tpl; };
        const R reports[] = {
            {"10001", "每日銷售彙總表", "SALES",
             "select s.sale_date, count(distinct s.sale_no) as tickets, sum(s.qty) as qty,\r\n"
             "       sum(s.amount) as amount, sum(s.amount - s.qty * p.cost) as profit\r\n"
             "from sales s join products p on p.prod_id = s.prod_id\r\n"
             "where s.sale_date between :sdate and :edate\r\n"
             "group by s.sale_date order by s.sale_date",
             "1", "sales_by_day.rtm"},
            {"10002", "商品庫存量報表", "STOCK",
             "select p.prod_id, p.prod_name, p.category, p.unit, k.qty_on_hand, k.safety_qty,\r\n"
             "       p.cost * k.qty_on_hand as stock_value, k.last_in\r\n"
             "from stock k join products p on p.prod_id = k.prod_id\r\n"
             "where p.category starting with :category\r\n"
             "order by p.category, p.prod_id",
             "2", "stock_on_hand.rtm"},
            {"10003", "單品銷售明細表", "SALES",
             "select s.sale_date, s.sale_no, s.cashier, s.qty, s.amount\r\n"
             "from sales s where s.prod_id = :prod_id\r\n"
             "order by s.sale_date, s.sale_no",
             "3", "product_sales.rtm"},
        };
        for (const R &r : reports) {
            q.prepare("INSERT INTO RPT_MASTER VALUES (?,?,?,?,?,?,?,?)");
            for (const QVariant &v : {QVariant(index), QVariant(r.id), QVariant(QString::fromUtf8(r.name)),
                                      QVariant(r.table), QVariant(QString::fromUtf8(r.sql)), QVariant(r.order),
                                      QVariant(tpl + r.tpl), QVariant(footer)})
                q.addBindValue(v);
            if (!q.exec())
                die(q.lastError().text());
        }
        struct P { const char *id, *item, *label, *type, *value; };
        const P params[] = {
            {"10001", "sdate", "起始日期", "日期", "2024-11-01"},
            {"10001", "edate", "截止日期", "日期", "2024-11-30"},
            {"10002", "category", "商品類別", "字串", ""},
            {"10003", "prod_id", "商品編號", "字串", "A001"},
        };
        for (const P &p : params) {
            q.prepare("INSERT INTO RPT_SUB VALUES (?,?,?,?,?)");
            for (const char *v : {p.id, p.item, p.label, p.type, p.value})
                q.addBindValue(QString::fromUtf8(v));
            if (!q.exec())
                die(q.lastError().text());
        }
    }
    QSqlDatabase::removeDatabase("demo");
}

void makeBusinessDatabase(const QString &dir)
{
    fb::ConnectParams p;
    p.database = dir + "/posdata.fdb";
    p.user = "SYSDBA";
    p.password = "masterkey";
    QFile::remove(p.database);
    fb::Connection::createDatabase(p);
    fb::Connection c;
    c.open(p);
    const auto run = [&](const QString &sql, const QList<QVariant> &params = {}) { c.execute(sql, params); };

    run("CREATE TABLE store_choise (store_no VARCHAR(6), store_name VARCHAR(40), store_sname VARCHAR(20), "
        "owner_name VARCHAR(20), zip VARCHAR(5), city VARCHAR(10), address VARCHAR(60), tel VARCHAR(20), "
        "fax VARCHAR(20), tax_id VARCHAR(8), email VARCHAR(40), open_hours VARCHAR(20), manager VARCHAR(20), "
        "bank VARCHAR(30), account VARCHAR(20), memo1 VARCHAR(40), memo2 VARCHAR(40))");
    run("INSERT INTO store_choise VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
        {"S001", QString::fromUtf8("好運來便利商店 台北民生店"), QString::fromUtf8("民生店"), QString::fromUtf8("林志明"),
         "105", QString::fromUtf8("台北市"), QString::fromUtf8("台北市松山區民生東路四段 133 號"), "(02)2712-3456",
         "(02)2712-3457", "24536806", "minsheng@haoyunlai.com.tw", "07:00-23:00", QString::fromUtf8("陳美惠"),
         QString::fromUtf8("台灣銀行 民生分行"), "012-34-567890", QString::fromUtf8("週一公休"), ""});

    run("CREATE TABLE products (prod_id VARCHAR(10), prod_name VARCHAR(40), category VARCHAR(10), "
        "unit VARCHAR(4), price NUMERIC(12,2), cost NUMERIC(12,2))");
    struct Prod { const char *id, *name, *cat, *unit; double price, cost; };
    const Prod prods[] = {
        {"A001", "統一肉燥麵", "泡麵", "包", 25, 17.5},       {"A002", "維力炸醬麵", "泡麵", "包", 28, 19.6},
        {"A003", "來一客鮮蝦魚板", "泡麵", "杯", 32, 22.4},   {"B001", "御茶園冰釀綠茶", "飲料", "瓶", 25, 15},
        {"B002", "光泉鮮乳 936ml", "飲料", "瓶", 85, 62},     {"B003", "伯朗咖啡", "飲料", "罐", 20, 12.8},
        {"B004", "舒跑運動飲料", "飲料", "瓶", 25, 16},       {"C001", "乖乖 玉米脆條", "零食", "包", 30, 20},
        {"C002", "可樂果 豌豆酥", "零食", "包", 25, 16.5},    {"C003", "義美小泡芙", "零食", "盒", 35, 24},
        {"D001", "舒潔衛生紙 110抽", "日用品", "串", 169, 128}, {"D002", "白蘭洗衣精 2.7kg", "日用品", "瓶", 219, 165},
        {"E001", "鮪魚飯糰", "鮮食", "個", 35, 24},           {"E002", "茶葉蛋", "鮮食", "顆", 13, 6.5},
        {"E003", "大亨堡", "鮮食", "份", 45, 27},
    };
    for (const Prod &x : prods)
        run("INSERT INTO products VALUES (?,?,?,?,?,?)",
            {x.id, QString::fromUtf8(x.name), QString::fromUtf8(x.cat), QString::fromUtf8(x.unit),
             QString::number(x.price, 'f', 2), QString::number(x.cost, 'f', 2)});

    run("CREATE TABLE stock (prod_id VARCHAR(10), qty_on_hand INTEGER, safety_qty INTEGER, last_in DATE)");
    run("INSERT INTO stock SELECT prod_id, MOD(CHAR_LENGTH(prod_name) * 37 + ASCII_VAL(SUBSTRING(prod_id FROM 4 FOR 1)) * 11, 180) + 6, "
        "12, DATEADD(-MOD(ASCII_VAL(SUBSTRING(prod_id FROM 4 FOR 1)), 9) DAY TO DATE '2024-11-30' ) FROM products");

    run("CREATE TABLE sales (sale_no VARCHAR(14), sale_date DATE, prod_id VARCHAR(10), qty INTEGER, "
        "amount NUMERIC(12,2), cashier VARCHAR(10))");
    // Sixty days of tickets with a deterministic spread over the products and cashiers.
    run(QString::fromUtf8(
        "EXECUTE BLOCK AS\n"
        "DECLARE d INTEGER = 0; DECLARE t INTEGER; DECLARE n INTEGER; DECLARE pid VARCHAR(10);\n"
        "DECLARE price NUMERIC(12,2); DECLARE q INTEGER; DECLARE sday DATE; DECLARE cash VARCHAR(10);\n"
        "BEGIN\n"
        "  WHILE (d < 61) DO BEGIN\n"
        "    sday = DATEADD(d DAY TO DATE '2024-10-01');\n"
        "    n = 18 + MOD(d * 7, 13);\n"
        "    t = 0;\n"
        "    WHILE (t < n) DO BEGIN\n"
        "      SELECT FIRST 1 SKIP (MOD(:d * 31 + :t * 17, 15)) prod_id, price FROM products ORDER BY prod_id INTO :pid, :price;\n"
        "      q = 1 + MOD(d + t * 3, 4);\n"
        "      cash = IIF(MOD(t, 3) = 0, '王小華', IIF(MOD(t, 3) = 1, '李佩珊', '張家豪'));\n"
        "      INSERT INTO sales VALUES (REPLACE(CAST(:sday AS VARCHAR(10)), '-', '') || LPAD(:t + 1, 4, '0'), :sday, :pid, :q, :q * :price, :cash);\n"
        "      t = t + 1;\n"
        "    END\n"
        "    d = d + 1;\n"
        "  END\n"
        "END"));
    c.close();

    QFile ini(dir + "/dbxconnections.ini");
    if (!ini.open(QIODevice::WriteOnly))
        die("cannot write " + ini.fileName());
    ini.write(QString("[Tormel]\r\nDriverName=Interbase\r\nDatabase=%1\r\nRoleName=RoleName\r\nUser_Name=sysdba\r\n"
                      "Password=masterkey\r\nServerCharSet=\r\nSQLDialect=3\r\nBlobSize=-1\r\nCommitRetain=False\r\n"
                      "WaitOnLocks=True\r\nErrorResourceFile=\r\nLocaleCode=0000\r\n"
                      "Interbase TransIsolation=ReadCommited\r\nTrim Char=False\r\n")
                  .arg(QDir(dir).absoluteFilePath("posdata.fdb"))
                  .toUtf8());
}

void makeCompanyFile(const QString &dir)
{
    cds::CdsTable t;
    t.fieldDefs.Add("COMP_ID", ftString, 10);
    t.fieldDefs.Add("COMP_NAME", ftString, 60);
    t.fieldDefs.Add("TAX_ID", ftString, 8);
    t.rows.push_back({"01", QString::fromUtf8("好運來便利商店股份有限公司"), "24536806"});
    cds::writeFile(dir + "/Bramwix.dat", t);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: mkdemo <run-folder> <report-index>\n");
        return 2;
    }
    const QString dir = QDir(args[1]).absolutePath();
    if (!QDir().mkpath(dir))
        die("cannot create " + dir);
    try {
        writeUdl(dir);
        makeCatalogue(dir, args[2]);
        makeBusinessDatabase(dir);
        makeCompanyFile(dir);
    } catch (const fb::FbError &e) {
        die(e.message());
    } catch (const Exception &e) {
        die(e.message());
    } catch (const std::exception &e) {
        die(QString::fromLocal8Bit(e.what()));
    }
    std::printf("demo data written to %s\n", qPrintable(dir));
    return 0;
}
