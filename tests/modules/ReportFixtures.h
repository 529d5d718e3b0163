#pragma once
// Small in-memory reports for the renderer tests and the render benchmark.

#include "modules/report/ReportData.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

namespace rpt::report::fixtures {

// The header record as the launcher fills it: parameter values, store, company, footer.
inline void fillHeader(ReportData &d, const QString &from = QStringLiteral("2024/03/01"),
                       const QString &to = QStringLiteral("2024/03/31"))
{
    d.headerFields = ReportData::standardHeaderFields();
    d.header = QVector<QVariant>(d.headerFields.size(), QVariant());
    d.header[1] = from;
    d.header[2] = to;
    d.header[11] = QStringLiteral("台北忠孝門市");
    d.header[12] = QStringLiteral("大同生活百貨股份有限公司");
    d.header[13] = QStringLiteral("本報表金額均含稅。\n如有疑問請洽總公司會計部（分機 215）。");
    d.header[14] = QStringLiteral("台北市大安區忠孝東路四段 100 號");
    d.header[15] = QStringLiteral("02-2771-0000");
}

inline Decimal dec(const char *text)
{
    return *Decimal::fromString(QString::fromLatin1(text));
}

// Daily sales: date, integer count, exact amounts.
inline ReportData salesByDay(int days = 31)
{
    ReportData d;
    fillHeader(d);
    d.columns.Add(QStringLiteral("SALE_DATE"), ftDate);
    d.columns.Add(QStringLiteral("TRANS_COUNT"), ftInteger);
    d.columns.Add(QStringLiteral("QTY"), ftInteger);
    TFieldDef amount(QStringLiteral("AMOUNT"), ftBCD, 2);
    amount.Precision = 15;
    d.columns.append(amount);
    TFieldDef discount(QStringLiteral("DISCOUNT"), ftBCD, 2);
    discount.Precision = 15;
    d.columns.append(discount);
    TFieldDef net(QStringLiteral("NET_AMOUNT"), ftBCD, 2);
    net.Precision = 15;
    d.columns.append(net);
    for (int i = 0; i < days; ++i) {
        const qint64 cents = 1234567 + qint64(i) * 98765 + (i % 7) * 3;
        const qint64 disc = (i % 5) * 1005;
        d.rows.push_back({QDate(2024, 3, 1).addDays(i), 120 + i * 3, 450 + i * 11,
                          QVariant::fromValue(Decimal(cents, 2)), QVariant::fromValue(Decimal(disc, 2)),
                          QVariant::fromValue(Decimal(cents - disc, 2))});
    }
    return d;
}

// The benchmark's shape: integer, exact decimal, date, two CJK texts, timestamp.
inline ReportData wideSales(int rows)
{
    ReportData d;
    fillHeader(d);
    d.columns.Add(QStringLiteral("LINE_NO"), ftInteger);
    d.columns.Add(QStringLiteral("AMOUNT"), ftBCD, 2);
    d.columns.Add(QStringLiteral("SALE_DATE"), ftDate);
    d.columns.Add(QStringLiteral("ITEM_NAME"), ftString, 40);
    d.columns.Add(QStringLiteral("CASHIER"), ftWideString, 20);
    d.columns.Add(QStringLiteral("SOLD_AT"), ftTimeStamp);
    static const char16_t *items[] = {u"統一麵包 葡萄口味", u"光泉鮮乳 936ml", u"舒潔衛生紙 12 捲",
                                      u"義美小泡芙（巧克力）", u"黑松沙士 600ml", u"立頓奶茶粉 10 入"};
    static const char16_t *cashiers[] = {u"王小明", u"陳美玲", u"林志豪", u"張雅婷"};
    d.rows.reserve(size_t(rows));
    const QDateTime start(QDate(2024, 3, 1), QTime(9, 0), Qt::UTC);
    for (int i = 0; i < rows; ++i) {
        d.rows.push_back({i + 1, QVariant::fromValue(Decimal(qint64(i % 997) * 137 + 2500, 2)),
                          QDate(2024, 3, 1).addDays(i / 400), QString::fromUtf16(items[i % 6]),
                          QString::fromUtf16(cashiers[i % 4]), start.addSecs(qint64(i) * 53)});
    }
    return d;
}

inline const char *wideSalesTemplate()
{
    return R"({
  "rtm": 1,
  "page": {"size": "A4", "orientation": "portrait", "margins": {"left": 12, "right": 12, "top": 12, "bottom": 12}},
  "title": [{"text": "銷售明細表", "align": "center", "size": 16, "bold": true}],
  "pageHeader": [
    {"left": "門市：{Field11}", "right": "期間：{Field1} ~ {Field2}"},
    {"left": "{Field12}"}
  ],
  "columns": [
    {"field": "LINE_NO", "caption": "序號", "width": 14},
    {"field": "SALE_DATE", "caption": "日期", "width": 24},
    {"field": "ITEM_NAME", "caption": "商品名稱", "width": 48},
    {"field": "CASHIER", "caption": "收銀員", "width": 20},
    {"field": "SOLD_AT", "caption": "交易時間", "width": 38, "format": "yyyy/MM/dd HH:mm"},
    {"field": "AMOUNT", "caption": "金額", "width": 26, "thousands": true, "total": "sum"}
  ],
  "zebra": true
})";
}

} // namespace rpt::report::fixtures
