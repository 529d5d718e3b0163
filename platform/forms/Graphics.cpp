#include "platform/forms/Graphics.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPen>

#include <cmath>
#include <dlfcn.h>

// Resources of a static library must be registered by hand.
static void initFormsResources() { Q_INIT_RESOURCE(rptforms); }

namespace rpt {

namespace {

struct SysColor {
    const char *name;
    QRgb classic;                 // Windows' standard scheme, used without a palette role
    QPalette::ColorGroup group;
    int role;                     // QPalette::ColorRole, or -1 for none
};

constexpr int NoRole = -1;

// Index = low byte of the system colour.
const SysColor kSystemColors[] = {
    {"clScrollBar", qRgb(0xC8, 0xC8, 0xC8), QPalette::Active, NoRole},
    {"clBackground", qRgb(0x00, 0x00, 0x00), QPalette::Active, NoRole},
    {"clActiveCaption", qRgb(0x99, 0xB4, 0xD1), QPalette::Active, NoRole},
    {"clInactiveCaption", qRgb(0xBF, 0xCD, 0xDB), QPalette::Active, NoRole},
    {"clMenu", qRgb(0xF0, 0xF0, 0xF0), QPalette::Active, QPalette::Window},
    {"clWindow", qRgb(0xFF, 0xFF, 0xFF), QPalette::Active, QPalette::Base},
    {"clWindowFrame", qRgb(0x64, 0x64, 0x64), QPalette::Active, NoRole},
    {"clMenuText", qRgb(0x00, 0x00, 0x00), QPalette::Active, QPalette::WindowText},
    {"clWindowText", qRgb(0x00, 0x00, 0x00), QPalette::Active, QPalette::Text},
    {"clCaptionText", qRgb(0x00, 0x00, 0x00), QPalette::Active, NoRole},
    {"clActiveBorder", qRgb(0xB4, 0xB4, 0xB4), QPalette::Active, NoRole},
    {"clInactiveBorder", qRgb(0xF4, 0xF7, 0xFC), QPalette::Active, NoRole},
    {"clAppWorkSpace", qRgb(0xAB, 0xAB, 0xAB), QPalette::Active, NoRole},
    {"clHighlight", qRgb(0x33, 0x99, 0xFF), QPalette::Active, QPalette::Highlight},
    {"clHighlightText", qRgb(0xFF, 0xFF, 0xFF), QPalette::Active, QPalette::HighlightedText},
    {"clBtnFace", qRgb(0xF0, 0xF0, 0xF0), QPalette::Active, QPalette::Button},
    {"clBtnShadow", qRgb(0xA0, 0xA0, 0xA0), QPalette::Active, QPalette::Dark},
    {"clGrayText", qRgb(0x6D, 0x6D, 0x6D), QPalette::Disabled, QPalette::Text},
    {"clBtnText", qRgb(0x00, 0x00, 0x00), QPalette::Active, QPalette::ButtonText},
    {"clInactiveCaptionText", qRgb(0x43, 0x4E, 0x54), QPalette::Active, NoRole},
    {"clBtnHighlight", qRgb(0xFF, 0xFF, 0xFF), QPalette::Active, QPalette::Light},
    {"cl3DDkShadow", qRgb(0x69, 0x69, 0x69), QPalette::Active, QPalette::Shadow},
    {"cl3DLight", qRgb(0xE3, 0xE3, 0xE3), QPalette::Active, QPalette::Midlight},
    {"clInfoText", qRgb(0x00, 0x00, 0x00), QPalette::Active, QPalette::ToolTipText},
    {"clInfoBk", qRgb(0xFF, 0xFF, 0xE1), QPalette::Active, QPalette::ToolTipBase},
    {nullptr, qRgb(0xB5, 0xB5, 0xB5), QPalette::Active, NoRole},
    {"clHotLight", qRgb(0x00, 0x66, 0xCC), QPalette::Active, QPalette::Link},
    {"clGradientActiveCaption", qRgb(0xB9, 0xD1, 0xEA), QPalette::Active, NoRole},
    {"clGradientInactiveCaption", qRgb(0xD7, 0xE4, 0xF2), QPalette::Active, NoRole},
    {"clMenuHighlight", qRgb(0x33, 0x99, 0xFF), QPalette::Active, QPalette::Highlight},
    {"clMenuBar", qRgb(0xF0, 0xF0, 0xF0), QPalette::Active, QPalette::Window},
};
constexpr int kSystemColorCount = int(sizeof(kSystemColors) / sizeof(kSystemColors[0]));

struct NamedColor {
    const char *name;
    TColor value;
};
const NamedColor kPlainColors[] = {
    {"clBlack", clBlack},     {"clMaroon", clMaroon},   {"clGreen", clGreen},
    {"clOlive", clOlive},     {"clNavy", clNavy},       {"clPurple", clPurple},
    {"clTeal", clTeal},       {"clGray", clGray},       {"clSilver", clSilver},
    {"clRed", clRed},         {"clLime", clLime},       {"clYellow", clYellow},
    {"clBlue", clBlue},       {"clFuchsia", clFuchsia}, {"clAqua", clAqua},
    {"clWhite", clWhite},     {"clMoneyGreen", clMoneyGreen}, {"clSkyBlue", clSkyBlue},
    {"clCream", clCream},     {"clMedGray", clMedGray}, {"clNone", clNone},
    {"clDefault", clDefault},
    // Aliases accepted on reading only (written under the names above).
    {"clLtGray", clLtGray},   {"clDkGray", clDkGray},
};

QRgb plainRgb(TColor c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

// MulDiv of the platform: rounds half away from zero.
int mulDiv(int a, int b, int c)
{
    const double v = double(a) * double(b) / double(c);
    return int(v < 0 ? std::ceil(v - 0.5) : std::floor(v + 0.5));
}

struct FaceGroup {
    QStringList faces;        // Windows names, compared case-insensitively
    QStringList substitutes;  // installed faces, best first
};

const QList<FaceGroup> &faceGroups()
{
    static const QList<FaceGroup> groups = {
        {{"MS Sans Serif", "Microsoft Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2", "Tahoma",
          "Arial", "Segoe UI", "System"},
         {"DejaVu Sans", CjkFallbackFace}},
        {{"Times New Roman", "MS Serif"}, {"DejaVu Serif", CjkFallbackFace}},
        {{"Courier New", "Courier", "Fixedsys", "Terminal"}, {"DejaVu Sans Mono", CjkFallbackFace}},
        {{QString::fromUtf8("細明體"), QString::fromUtf8("新細明體"), "MingLiU", "PMingLiU",
          QString::fromUtf8("標楷體"), "DFKai-SB"},
         {CjkFallbackFace, "DejaVu Sans"}},
    };
    return groups;
}

bool isCjkCharset(TFontCharset cs)
{
    return cs == SHIFTJIS_CHARSET || cs == HANGEUL_CHARSET || cs == GB2312_CHARSET
        || cs == CHINESEBIG5_CHARSET;
}

} // namespace

// ---- colours ---------------------------------------------------------------------------

bool systemColorRole(TColor c, QPalette::ColorGroup *group, QPalette::ColorRole *role)
{
    if (!isSystemColor(c))
        return false;
    const int i = systemColorIndex(c);
    if (i >= kSystemColorCount || kSystemColors[i].role == NoRole)
        return false;
    if (group)
        *group = kSystemColors[i].group;
    if (role)
        *role = QPalette::ColorRole(kSystemColors[i].role);
    return true;
}

QColor toQColor(TColor c, const QPalette *palette)
{
    if (c == clNone)
        return QColor(Qt::transparent);
    if (c == clDefault)
        c = clWindow;
    if (!isSystemColor(c))
        return QColor(plainRgb(c));
    const int i = systemColorIndex(c);
    if (i >= kSystemColorCount)
        return QColor(Qt::black);   // unknown index: what GetSysColor gives
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
    if (systemColorRole(c, &group, &role)) {
        if (palette)
            return palette->color(group, role);
        if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            return QGuiApplication::palette().color(group, role);
    }
    return QColor(kSystemColors[i].classic);
}

TColor fromQColor(const QColor &c)
{
    const QColor rgb = c.toRgb();
    return RGBColor(rgb.red(), rgb.green(), rgb.blue());
}

QString colorToString(TColor c)
{
    for (const auto &n : kPlainColors)
        if (n.value == c)
            return QString::fromLatin1(n.name);
    if (isSystemColor(c) && systemColorIndex(c) < kSystemColorCount
        && kSystemColors[systemColorIndex(c)].name)
        return QString::fromLatin1(kSystemColors[systemColorIndex(c)].name);
    return QStringLiteral("$%1").arg(c, 8, 16, QLatin1Char('0')).toUpper();
}

bool stringToColor(const QString &text, TColor *out)
{
    const QString s = text.trimmed();
    if (s.isEmpty())
        return false;
    TColor value = 0;
    bool ok = false;
    if (s.startsWith(QLatin1String("cl"), Qt::CaseInsensitive)) {
        for (const auto &n : kPlainColors)
            if (s.compare(QLatin1String(n.name), Qt::CaseInsensitive) == 0) {
                value = n.value;
                ok = true;
                break;
            }
        for (int i = 0; !ok && i < kSystemColorCount; ++i)
            if (kSystemColors[i].name
                && s.compare(QLatin1String(kSystemColors[i].name), Qt::CaseInsensitive) == 0) {
                value = clSystemColor | TColor(i);
                ok = true;
            }
    } else if (s.startsWith(QLatin1Char('$'))) {
        const QString hex = s.mid(1);
        if (hex.size() <= 8)
            value = TColor(hex.toUInt(&ok, 16));
    } else {
        const qlonglong v = s.toLongLong(&ok);
        ok = ok && v >= -2147483648LL && v <= 4294967295LL;
        value = TColor(quint32(v));
    }
    if (ok && out)
        *out = value;
    return ok;
}

// ---- fonts -----------------------------------------------------------------------------

int TFont::Size() const { return -mulDiv(Height, 72, DesignPixelsPerInch); }

void TFont::SetSize(int points) { Height = -mulDiv(points, DesignPixelsPerInch, 72); }

int TFont::PixelHeight() const { return Height < 0 ? -Height : Height; }

QStringList fontSubstitutes(const QString &windowsFace)
{
    for (const FaceGroup &g : faceGroups())
        for (const QString &f : g.faces)
            if (f.compare(windowsFace, Qt::CaseInsensitive) == 0)
                return g.substitutes;
    return {QStringLiteral("DejaVu Sans"), QString::fromLatin1(CjkFallbackFace)};
}

QFont TFont::toQFont() const
{
    QStringList families{Name};
    if (isCjkCharset(Charset))
        families << QString::fromLatin1(CjkFallbackFace);
    for (const QString &f : fontSubstitutes(Name))
        if (!families.contains(f, Qt::CaseInsensitive))
            families << f;
    QFont f;
    f.setFamilies(families);
    // A positive height counts the internal leading too; the em is then a little smaller.
    const int px = Height < 0 ? -Height : qMax(1, qRound(Height * 0.85));
    f.setPixelSize(qMax(1, px));
    f.setBold(Style & fsBold);
    f.setItalic(Style & fsItalic);
    f.setUnderline(Style & fsUnderline);
    f.setStrikeOut(Style & fsStrikeOut);
    return f;
}

TFont TFont::fromQFont(const QFont &f)
{
    TFont t;
    t.Name = f.families().isEmpty() ? f.family() : f.families().constFirst();
    if (f.pixelSize() > 0)
        t.Height = -f.pixelSize();
    else
        t.SetSize(qRound(f.pointSizeF()));
    t.Style = (f.bold() ? fsBold : 0) | (f.italic() ? fsItalic : 0)
        | (f.underline() ? fsUnderline : 0) | (f.strikeOut() ? fsStrikeOut : 0);
    return t;
}

namespace {
QString g_aliasFile;

// fontconfig is already loaded by Qt's font database; reach it at run time so the
// build needs neither its header nor a link line of its own.
bool loadIntoFontconfig(const QByteArray &xml, const QString &path)
{
    void *lib = dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_NOLOAD);
    if (!lib)
        lib = dlopen("libfontconfig.so.1", RTLD_NOW);
    if (!lib)
        return false;
    using GetCurrent = void *(*)();
    using FromMemory = int (*)(void *, const unsigned char *, int);
    using FromFile = int (*)(void *, const unsigned char *, int);
    auto getCurrent = reinterpret_cast<GetCurrent>(dlsym(lib, "FcConfigGetCurrent"));
    auto fromMemory = reinterpret_cast<FromMemory>(dlsym(lib, "FcConfigParseAndLoadFromMemory"));
    auto fromFile = reinterpret_cast<FromFile>(dlsym(lib, "FcConfigParseAndLoad"));
    void *config = getCurrent ? getCurrent() : nullptr;
    if (!config)
        return false;
    if (fromMemory)
        return fromMemory(config, reinterpret_cast<const unsigned char *>(xml.constData()), 1) != 0;
    if (fromFile && !path.startsWith(QLatin1Char(':')))
        return fromFile(config, reinterpret_cast<const unsigned char *>(QFile::encodeName(path).constData()), 1) != 0;
    return false;
}
} // namespace

bool installFontAliases()
{
    // The substitution table belongs to the GUI application; fill it again once one
    // exists (inserting twice changes nothing).
    for (const FaceGroup &g : faceGroups())
        for (const QString &f : g.faces)
            QFont::insertSubstitutions(f, g.substitutes);

    static int done = -1;
    if (done >= 0)
        return done == 1;

    initFormsResources();
    const QString path = QStringLiteral(":/rptdlg/fonts/rptdlg-fonts.conf");
    QFile file(path);
    bool ok = false;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray xml = file.readAll();
        ok = loadIntoFontconfig(xml, path);
    }
    g_aliasFile = ok ? path : QString();
    done = ok ? 1 : 0;
    return ok;
}

QString fontAliasFile() { return g_aliasFile; }

// ---- drawing helpers -------------------------------------------------------------------

QPixmap transparentGlyph(const QImage &image, QRgb key)
{
    if (image.isNull())
        return QPixmap();
    QImage img = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb opaqueKey = key | 0xFF000000u;
    for (int y = 0; y < img.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if ((line[x] | 0xFF000000u) == opaqueKey)
                line[x] = 0;
    }
    return QPixmap::fromImage(img);
}

void Frame3D(QPainter &p, QRect &rect, TColor topLeft, TColor bottomRight, int width)
{
    const QColor tl = toQColor(topLeft);
    const QColor br = toQColor(bottomRight);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < width && rect.width() > 0 && rect.height() > 0; ++i) {
        // Pixel-exact lines: top and left rows, then bottom and right.
        p.fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), tl);
        p.fillRect(QRect(rect.left(), rect.top(), 1, rect.height()), tl);
        p.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), br);
        p.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), br);
        rect.adjust(1, 1, -1, -1);
    }
    p.restore();
}

void DrawFocusRect(QPainter &p, const QRect &rect)
{
    if (rect.isEmpty())
        return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    // Alternate pixels, drawn so they show on light and dark cells alike.
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    QPen pen(Qt::white, 1, Qt::CustomDashLine);
    pen.setDashPattern({1, 1});
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect.adjusted(0, 0, -1, -1));
    p.restore();
}

} // namespace rpt
