#include "app/TransferOptions.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>
#include <QSpinBox>

#include "app/WindowTexts.h"
#include "http/IdRateLimit.h"
#include "job/JobDefaults.h"
#include "job/queue/DownloadQueue.h"
#include "job/session/JobRequest.h"

namespace tarnwick {

namespace {

using namespace WindowTexts;

constexpr int RowTop = 103, RowHeight = 17;
const QColor Cream(255, 251, 240);
const QColor Olive(128, 128, 0);

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

QFont RowFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    font.setBold(true);
    return font;
}

// A label of the row, as the page's own: right-aligned on cream, naming its control.
void Label(QWidget& page, const char* name, int x, int width, const char* text, QWidget* control) {
    auto* label = new QLabel(Text(text), &page);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(x, RowTop, width, RowHeight);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setFont(RowFont());
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Cream);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
    label->setBuddy(control);
}

// A control of the row: its place, the lists' font and colour, and its accessible texts.
void Style(QWidget& control, const char* name, const QRect& place, const char* label,
           const char* description) {
    control.setObjectName(QString::fromLatin1(name));
    control.setGeometry(place);
    control.setFont(RowFont());
    QPalette palette = control.palette();
    for (auto role : {QPalette::Text, QPalette::ButtonText}) palette.setColor(role, Olive);
    control.setPalette(palette);
    control.setCursor(Qt::PointingHandCursor);
    control.setAccessibleName(Text(label).trimmed());
    control.setAccessibleDescription(Text(description));
}

// Takes what ParseRate takes, and on the way to it digits and the start of "off" or "none"; a
// text left unfinished is put back to the limit in force.
class TRateValidator : public QValidator {
public:
    TRateValidator(const TJobRequest& settings, QObject* parent)
        : QValidator(parent), settings_(settings) {}

    State validate(QString& input, int&) const override {
        if (ParseRate(input.toStdString())) return Acceptable;
        const QString text = input.trimmed().toLower();
        bool digits = true;
        for (const QChar c : text) digits = digits && c.isDigit();
        const bool word = QStringLiteral("off").startsWith(text) || QStringLiteral("none").startsWith(text);
        return digits || word ? Intermediate : Invalid;
    }
    void fixup(QString& input) const override { input = TTransferOptions::RateShown(settings_.rateLimit); }

private:
    const TJobRequest& settings_;
};

}  // namespace

TTransferOptions::TTransferOptions(QWidget& page, TJobRequest& settings)
    : QObject(&page), settings_(settings) {
    connections_ = new QSpinBox(&page);
    connections_->setRange(1, kMaxConnections);
    connections_->setValue(kDefaultConnections);
    settings_.connections = kDefaultConnections;
    Style(*connections_, "ConnectionsSpinBox", QRect(168, RowTop, 48, RowHeight), ConnectionsLabel,
          ConnectionsDescription);
    Label(page, "ConnectionsLabel", 68, 96, ConnectionsLabel, connections_);

    rate_ = new QComboBox(&page);
    rate_->setEditable(true);
    rate_->setInsertPolicy(QComboBox::NoInsert);
    for (const char* rate : Rates) rate_->addItem(Text(rate));
    rate_->setValidator(new TRateValidator(settings_, rate_));
    settings_.rateLimit = 0;
    Style(*rate_, "RateComboBox", QRect(314, RowTop, 84, RowHeight), RateLabel, RateDescription);
    Label(page, "RateLabel", 226, 84, RateLabel, rate_);

    // The queue's own default: one video after another.
    atOnce_ = new QSpinBox(&page);
    atOnce_->setRange(1, kMaxParallelJobs);
    atOnce_->setValue(1);
    Style(*atOnce_, "AtOnceSpinBox", QRect(472, RowTop, 40, RowHeight), AtOnceLabel, AtOnceDescription);
    Label(page, "AtOnceLabel", 408, 60, AtOnceLabel, atOnce_);

    connect(connections_, &QSpinBox::valueChanged, this,
            [this](int value) { settings_.connections = value; });
    connect(rate_, &QComboBox::currentTextChanged, this, &TTransferOptions::RateEdited);
    connect(atOnce_, &QSpinBox::valueChanged, this, &TTransferOptions::AtOnceChanged);
}

QString TTransferOptions::RateShown(std::int64_t bytesPerSecond) {
    if (bytesPerSecond <= 0) return Text(Rates[0]);
    for (const auto& [unit, suffix] : {std::pair{1024 * 1024, "M"}, std::pair{1024, "K"}})
        if (bytesPerSecond % unit == 0)
            return QString::number(bytesPerSecond / unit) + QLatin1String(suffix);
    return QString::number(bytesPerSecond);
}

void TTransferOptions::RateEdited(const QString& text) {
    if (const auto rate = ParseRate(text.toStdString())) settings_.rateLimit = *rate;
}

}  // namespace tarnwick
