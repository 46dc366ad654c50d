#include "app/Accessibility.h"

#include <QAccessibleWidget>
#include <QFrame>

#include "app/ClickPanel.h"
#include "app/MainForm.h"
#include "app/StatusBand.h"

namespace tarnwick {

namespace {

class TLinkAccessible : public QAccessibleWidget {
public:
    explicit TLinkAccessible(TClickPanel* panel) : QAccessibleWidget(panel, QAccessible::Link) {}

    QAccessible::Role role() const override { return Panel().Active() ? QAccessible::Link : QAccessible::StaticText; }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name && Panel().accessibleName().isEmpty()) return Panel().text();
        return QAccessibleWidget::text(kind);
    }

    QStringList actionNames() const override {
        return Panel().Active() ? QStringList{pressAction()} : QStringList{};
    }

    void doAction(const QString& action) override {
        if (action == pressAction()) Panel().Activate();
    }

private:
    TClickPanel& Panel() const { return *static_cast<TClickPanel*>(widget()); }
};

class TProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TProgressAccessible(TProgressStrip* strip) : QAccessibleWidget(strip, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) {
            const auto percent = Strip().Percent();
            return percent ? QString::number(*percent) + QLatin1Char('%') : QString();
        }
        return QAccessibleWidget::text(kind);
    }

    QVariant currentValue() const override { return Strip().Percent().value_or(0); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return Strip().Percent() ? 100 : 0; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    const TProgressStrip& Strip() const { return *static_cast<const TProgressStrip*>(widget()); }
};

QAccessibleInterface* Describe(const QString&, QObject* object) {
    if (auto* panel = qobject_cast<TClickPanel*>(object)) return new TLinkAccessible(panel);
    if (auto* strip = qobject_cast<TProgressStrip*>(object)) return new TProgressAccessible(strip);
    if (auto* band = qobject_cast<TStatusBand*>(object)) return new QAccessibleWidget(band, QAccessible::StatusBar);
    if (auto* window = qobject_cast<TMainForm*>(object)) return new QAccessibleWidget(window, QAccessible::Window);
    // A plain frame (a band, a panel) groups controls; described as a frame it would pass for a window.
    if (object->metaObject() == &QFrame::staticMetaObject)
        return new QAccessibleWidget(static_cast<QFrame*>(object), QAccessible::Grouping);
    return nullptr;
}

}  // namespace

void InstallAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(&Describe);
        return true;
    }();
    (void)installed;
}

}  // namespace tarnwick
