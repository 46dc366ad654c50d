#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

#include <optional>
#include <ostream>

#include "MainFormFixture.h"

using namespace tarnwick;
using namespace tarnwick::testing;

namespace {

const QColor SkyBlue(166, 202, 240), Cream(255, 251, 240), Mint(192, 220, 192), Teal(0, 128, 128),
    Olive(128, 128, 0), White(255, 255, 255), Black(0, 0, 0), AddressBlue(68, 140, 203);

// Where a control sits in the window's client area, and how it looks.
struct Control {
    const char* name;
    QRect place;
    std::optional<QColor> background = {};
    std::optional<QColor> textColour = {};
    const char* text = nullptr;
    const char* hint = nullptr;
    bool handCursor = false;
};

void PrintTo(const Control& c, std::ostream* out) { *out << c.name; }

const Control Controls[] = {
    // header band, 52 high
    {"HeaderBand", {0, 0, 579, 52}, White},
    {"Image2", {15, 17, 187, 18}, {}, {}, nullptr, nullptr, true},
    {"Panel20", {312, 9, 257, 17}, {}, Black, "Tarnwick - Rero 1.01"},
    {"Panel17", {440, 25, 129, 17}, {}, Teal, "tarnwick.example", nullptr, true},
    // notebook, 122 high; page 0
    {"Notebook1", {0, 52, 579, 122}},
    {"Panel1", {0, 52, 579, 122}, SkyBlue},
    {"AuthorLabel", {152, 68, 65, 17}, Teal, White, "author  "},
    {"TitleLabel", {152, 92, 65, 17}, Teal, White, "title  "},
    {"LengthLabel", {152, 116, 65, 17}, Teal, White, "duration  "},
    {"SizeLabel", {152, 140, 65, 17}, Teal, White, "file size  "},
    {"PreviewFrame", {8, 60, 136, 105}, Cream},
    {"PreviewImage", {16, 67, 120, 90}},
    {"AuthorPanel", {216, 68, 361, 17}, White, {}, ""},
    {"TitlePanel", {216, 92, 361, 17}, White, {}, ""},
    {"LengthPanel", {216, 116, 361, 17}, White, {}, ""},
    {"SizePanel", {216, 140, 361, 17}, White, {}, ""},
    // page 1
    {"FormatPage", {0, 52, 579, 122}, SkyBlue},
    {"FormatLabel", {68, 72, 217, 23}, Cream, {}, "Convert to format  "},
    {"QualityLabel", {68, 101, 217, 23}, Cream, {}, "Choose quality  "},
    {"HdLabel", {68, 130, 217, 23}, Cream, {}, "High Definition  "},
    {"FormatComboBox", {295, 72, 217, 22}, {}, Olive, nullptr, nullptr, true},
    {"QualityComboBox", {295, 100, 217, 22}, {}, Olive, nullptr, nullptr, true},
    {"RadioButton1", {296, 134, 41, 17}, {}, {}, " No", nullptr, true},
    {"RadioButton2", {344, 134, 113, 17}, {}, {}, " Yes (if available)", nullptr, true},
    {"ConnectionsLabel", {68, 155, 96, 17}, Cream, {}, "Connections  "},
    {"ConnectionsSpinBox", {168, 155, 48, 17}, {}, {}, nullptr, nullptr, true},
    {"RateLabel", {226, 155, 84, 17}, Cream, {}, "Limit speed  "},
    {"RateComboBox", {314, 155, 84, 17}, {}, Olive, nullptr, nullptr, true},
    {"AtOnceLabel", {408, 155, 60, 17}, Cream, {}, "At once  "},
    {"AtOnceSpinBox", {472, 155, 40, 17}, {}, {}, nullptr, nullptr, true},
    // example band, 25 high
    {"ExampleBand", {0, 174, 579, 25}, Cream},
    {"Panel18", {8, 174, 137, 25}, White, Teal, "© 2026 Tarnwick", nullptr, true},
    {"Panel19", {152, 174, 421, 25}, White, Teal, nullptr, "This is the video URL for example", true},
    // address band, 36 high
    {"AddressBand", {0, 199, 579, 36}, AddressBlue},
    {"ComboBox1", {7, 206, 137, 22}, {}, {}, nullptr, nullptr, true},
    {"Edit1", {152, 209, 332, 16}},
    {"DownloadPanel", {494, 199, 85, 36}, White},
    {"DownloadButton", {500, 205, 74, 24}, {}, {}, "Download", nullptr, true},
    // folder band, 36 high
    {"FolderBand", {0, 235, 579, 36}, Cream},
    {"SpeedButton2", {5, 241, 24, 24}, {}, {}, nullptr, "Main", true},
    {"SpeedButton1", {30, 241, 24, 24}, {}, {}, nullptr, "Options", true},
    {"ChangeButton", {55, 241, 24, 24}, {}, {}, nullptr, "Change directory", true},
    {"QueueButton", {80, 241, 24, 24}, {}, {}, nullptr, "Queue", true},
    {"SpeedButton3", {550, 241, 24, 24}, {}, {}, nullptr, "Open directory", true},
    {"Panel22", {113, 241, 432, 25}, White},
    // status band, 20 high
    {"StatusBand", {0, 271, 579, 20}, Mint},
    {"MessagePanel", {8, 271, 561, 20}},
};

QString Caption(const QWidget& widget) {
    if (auto* label = qobject_cast<const QLabel*>(&widget)) return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(&widget)) return button->text();
    return {};
}

}  // namespace

class MainWindow : public MainFormFixture {};

class Layout : public MainFormFixture, public ::testing::WithParamInterface<Control> {};

TEST_P(Layout, ControlSitsInPlaceWithItsLooks) {
    const Control& c = GetParam();
    const QWidget& widget = Find<QWidget>(c.name);
    const QRect place(widget.mapTo(form_.get(), QPoint(0, 0)), widget.size());
    EXPECT_EQ(place, c.place);
    if (c.background) {
        EXPECT_TRUE(widget.autoFillBackground());
        EXPECT_EQ(widget.palette().color(QPalette::Window), *c.background);
    }
    if (c.textColour) {
        const QPalette::ColorRole role = qobject_cast<const QComboBox*>(&widget) ? QPalette::ButtonText : QPalette::WindowText;
        EXPECT_EQ(widget.palette().color(role), *c.textColour);
    }
    if (c.text) {
        EXPECT_EQ(Caption(widget), QString::fromUtf8(c.text));
    }
    if (c.hint) {
        EXPECT_EQ(widget.toolTip(), QString::fromUtf8(c.hint));
    }
    EXPECT_EQ(widget.cursor().shape() == Qt::PointingHandCursor, c.handCursor);
}

INSTANTIATE_TEST_SUITE_P(EveryControl, Layout, ::testing::ValuesIn(Controls),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindow, WindowIsFixedAtTheClientSizeWithoutMaximise) {
    EXPECT_EQ(form_->size(), QSize(579, 291));
    EXPECT_EQ(form_->minimumSize(), QSize(579, 291));
    EXPECT_EQ(form_->maximumSize(), QSize(579, 291));
    const Qt::WindowFlags flags = form_->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
}

TEST_F(MainWindow, WindowIsCentredOnTheScreen) {
    const QRect screen = form_->screen()->availableGeometry();
    const QPoint offset = form_->geometry().center() - screen.center();
    EXPECT_LE(offset.manhattanLength(), 2) << "window centre is off by " << offset.x() << "," << offset.y();
}

struct FontCase {
    const char* name;
    const char* family;
    int pixels;
    bool bold;
    bool underline;
};

void PrintTo(const FontCase& c, std::ostream* out) { *out << c.name; }

class Fonts : public MainFormFixture, public ::testing::WithParamInterface<FontCase> {};

TEST_P(Fonts, ControlAsksForItsFontByName) {
    const FontCase& c = GetParam();
    const QFont font = form_->objectName() == c.name ? form_->font() : Find<QWidget>(c.name).font();
    EXPECT_EQ(font.family(), c.family);
    EXPECT_EQ(font.pixelSize(), c.pixels);
    EXPECT_EQ(font.bold(), c.bold);
    EXPECT_EQ(font.underline(), c.underline);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKindOfText, Fonts,
    ::testing::Values(FontCase{"MainForm", "Tahoma", 11, false, false},
                      FontCase{"MessagePanel", "Tahoma", 11, false, false},
                      FontCase{"Edit1", "Tahoma", 11, false, false},
                      FontCase{"Panel20", "Arial", 13, true, false},
                      FontCase{"Panel17", "Tahoma", 11, false, true},
                      FontCase{"FormatLabel", "Arial", 13, true, false},
                      FontCase{"HdLabel", "Arial", 13, true, false},
                      FontCase{"FormatComboBox", "Arial", 12, true, false},
                      FontCase{"QualityComboBox", "Arial", 12, true, false},
                      FontCase{"RadioButton1", "Arial", 12, true, false},
                      FontCase{"RadioButton2", "Arial", 12, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct AlignmentCase {
    const char* name;
    Qt::Alignment horizontal;
};

void PrintTo(const AlignmentCase& c, std::ostream* out) { *out << c.name; }

class Alignment : public MainFormFixture, public ::testing::WithParamInterface<AlignmentCase> {};

TEST_P(Alignment, PanelTextIsAlignedAndPlain) {
    const auto& panel = Find<QLabel>(GetParam().name);
    EXPECT_EQ(panel.alignment() & Qt::AlignHorizontal_Mask, GetParam().horizontal);
    EXPECT_EQ(panel.textFormat(), Qt::PlainText) << "texts from outside are never read as markup";
}

INSTANTIATE_TEST_SUITE_P(
    EveryTextPanel, Alignment,
    ::testing::Values(AlignmentCase{"Panel20", Qt::AlignRight}, AlignmentCase{"Panel17", Qt::AlignRight},
                      AlignmentCase{"AuthorLabel", Qt::AlignRight}, AlignmentCase{"SizeLabel", Qt::AlignRight},
                      AlignmentCase{"AuthorPanel", Qt::AlignLeft}, AlignmentCase{"TitlePanel", Qt::AlignLeft},
                      AlignmentCase{"LengthPanel", Qt::AlignLeft}, AlignmentCase{"SizePanel", Qt::AlignLeft},
                      AlignmentCase{"FormatLabel", Qt::AlignRight}, AlignmentCase{"Panel19", Qt::AlignLeft},
                      AlignmentCase{"Panel22", Qt::AlignLeft}, AlignmentCase{"MessagePanel", Qt::AlignLeft}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindow, ListsHoldTheirItemsInOrder) {
    const auto items = [&](const char* name) {
        QStringList texts;
        const auto& combo = Find<QComboBox>(name);
        for (int i = 0; i < combo.count(); ++i) texts << combo.itemText(i);
        return texts;
    };
    EXPECT_EQ(items("ComboBox1"),
              QStringList({"youtube.com", "redtube.com", "metacafe.com", "dailymotion.com", "xvideos.com"}));
    EXPECT_EQ(items("FormatComboBox"),
              QStringList({"No convert", "Ipod Video (Apple Quick Time MOV)", "Iphone Video (MPEG-4 MP4)",
                           "PSP Video (H.264 MP4)", "Cell Phone (H.263 3GP)", "Windows Media Video (V.7 WMV)",
                           "XVid MPEG-4 Codec (AVI)", "MPEG Audio Layer 3 (MP3)"}));
    EXPECT_EQ(items("QualityComboBox"), QStringList({"Low", "Medium", "Optimal", "High"}));
}

TEST_F(MainWindow, SiteListItemsAreSixteenPixelsHigh) {
    auto& sites = Find<QComboBox>("ComboBox1");
    const QModelIndex first = sites.model()->index(0, 0);
    QStyleOptionViewItem option;
    option.initFrom(&sites);
    EXPECT_EQ(sites.itemDelegate()->sizeHint(option, first).height(), 16);
}

TEST_F(MainWindow, PicturesAreBuiltIn) {
    EXPECT_EQ(Find<QLabel>("Image2").pixmap().size(), QSize(187, 18));
    EXPECT_EQ(Find<QLabel>("DefaultImage").pixmap().size(), QSize(120, 90));
    EXPECT_TRUE(Find<QLabel>("PreviewImage").hasScaledContents()) << "a preview of any size fills the frame";
    for (const char* button : {"SpeedButton1", "SpeedButton2", "ChangeButton", "QueueButton", "SpeedButton3"}) {
        const auto& glyph = Find<QToolButton>(button).icon();
        EXPECT_FALSE(glyph.isNull()) << button;
        EXPECT_FALSE(glyph.pixmap(16, 16).isNull()) << button;
    }
    EXPECT_FALSE(form_->windowIcon().isNull());
}

TEST_F(MainWindow, AddressFieldIsFlatOnCream) {
    const auto& address = Find<QLineEdit>("Edit1");
    EXPECT_FALSE(address.hasFrame());
    EXPECT_EQ(address.palette().color(QPalette::Base), Cream);
}
