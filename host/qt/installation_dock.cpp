#include "host/qt/installation_dock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace norvane {

using namespace installation;

namespace {

// In a scrolled panel the wheel scrolls the panel: a slider, combo box or
// spin box under the pointer takes the wheel only once a click has given it
// the keyboard, so scrolling past a tank never moves the tank.
class WheelOnlyWithFocus : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Wheel && widget && !widget->hasFocus()) {
            event->ignore();  // on to the scroll area
            return true;
        }
        return false;
    }
};

void take_wheel_only_with_focus(QWidget* widget, QObject* filter)
{
    widget->setFocusPolicy(Qt::StrongFocus);
    widget->installEventFilter(filter);
}

// Asks for no more room than its least size, which the window sets to what
// the screen leaves.
class PanelScroll : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override { return minimumSize(); }
};

// The switches' symbols, drawn beside their labels: a rocker is a rocker
// plate that sits up (on) or down (off); a push button is a round cap that
// springs back.
constexpr int SYMBOL_SIZE = 16;

// A symbol's square, outlined in dark grey and filled in light grey.
template <typename Draw>
QPixmap symbol(Draw draw)
{
    QPixmap pixmap(SYMBOL_SIZE, SYMBOL_SIZE);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor("#202020"), 1));
    p.setBrush(QColor("#d0d0d0"));
    draw(p);
    return pixmap;
}

QPixmap rocker_symbol(bool on)
{
    return symbol([on](QPainter& p) {
        p.drawRect(QRectF(3.5, 0.5, 9, 15));  // the frame
        p.setBrush(on ? QColor("#2e7d32") : QColor("#707070"));
        p.drawRect(on ? QRectF(4.5, 1.5, 7, 7) : QRectF(4.5, 7.5, 7, 7));  // the pressed half
    });
}

QPixmap push_symbol()
{
    return symbol([](QPainter& p) {
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));  // the bezel
        p.setBrush(QColor("#707070"));
        p.drawEllipse(QRectF(4, 4, 8, 8));  // the cap
    });
}

QIcon switch_icon(control_form form)
{
    QIcon icon;
    if (form == control_form::push) {
        icon.addPixmap(push_symbol());
    } else {
        icon.addPixmap(rocker_symbol(false), QIcon::Normal, QIcon::Off);
        icon.addPixmap(rocker_symbol(true), QIcon::Normal, QIcon::On);
    }
    return icon;
}

// A lamp of a module that is off: it sends nothing, so the output's state is
// not known (the module keeps whatever it last applied).
const char* const UNKNOWN_LAMP_STYLE =
    "QLabel { background: #8a8a8a; color: #202020; border: 2px dashed #202020; border-radius: 4px;"
    " font-weight: bold; }";

QString lamp_style(const panel_reading& r)
{
    // Lit: amber; a reported fault state or code: red frame.
    return QString("QLabel { background: %1; border: 2px solid %2; border-radius: 4px; }")
        .arg(r.lit ? "#ffc83d" : "#3a3a3a", r.fault ? "#e02020" : "#202020");
}

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

void InstallationDock::act(const panel_control& c, bool on, double amount, int state, int code)
{
    plant_action a;
    a.verb = c.verb;
    a.module = c.module;
    a.channel = c.channel;
    a.on = on;
    a.amount = amount;
    a.state = state;
    a.code = code;
    act_(a);
}

void InstallationDock::draw(const panel_control& c, QWidget* box, QGridLayout* grid, QObject* wheel_filter)
{
    const size_t index = drawn_.size();
    drawn_.push_back({c, nullptr, nullptr, {}, true});
    drawn& d = drawn_.back();
    switch (c.form) {
    case control_form::heading:
        d.widget = new QLabel(text(c.text), box);
        break;
    case control_form::rocker:
    case control_form::push: {
        auto* button = new QPushButton(text(c.text), box);
        button->setIcon(switch_icon(c.form));
        if (c.form == control_form::push) {
            connect(button, &QPushButton::pressed, this, [this, index] { act(drawn_[index].control, true); });
            connect(button, &QPushButton::released, this, [this, index] { act(drawn_[index].control, false); });
        } else {
            button->setCheckable(true);
            connect(button, &QPushButton::toggled, this, [this, index](bool on) { act(drawn_[index].control, on); });
        }
        d.widget = button;
        break;
    }
    case control_form::level: {
        auto* slider = new QSlider(Qt::Horizontal, box);
        slider->setRange(0, c.top);
        take_wheel_only_with_focus(slider, wheel_filter);
        d.reading = new QLabel(box);
        d.reading->setMinimumWidth(110);
        d.reading->setToolTip(text(c.tip));
        grid->addWidget(d.reading, c.row, c.column + 1);
        connect(slider, &QSlider::valueChanged, this,
                [this, index](int value) { act(drawn_[index].control, false, value); });
        d.widget = slider;
        break;
    }
    case control_form::lamp: {
        auto* lamp = new QLabel(box);
        lamp->setFixedSize(18, 18);
        d.widget = lamp;
        break;
    }
    case control_form::legend: {
        // The symbols the switch buttons carry, explained.
        auto* row = new QHBoxLayout;
        row->setSpacing(4);
        const std::pair<QPixmap, QString> keys[] = {{rocker_symbol(false), tr("rocker: a click turns it on or off")},
                                                    {push_symbol(), tr("push button: on while held")}};
        for (const auto& [symbol, words] : keys) {
            auto* picture = new QLabel(box);
            picture->setPixmap(symbol);
            row->addWidget(picture);
            row->addWidget(new QLabel(words, box));
            row->addSpacing(12);
        }
        row->addStretch(1);
        grid->addLayout(row, c.row, c.column, 1, c.column_span);
        return;
    }
    case control_form::fault:
        draw_faults(c, box, grid, wheel_filter);
        return;
    }
    if (!c.name.empty())
        d.widget->setObjectName(text(c.name));
    if (c.form != control_form::level && !c.tip.empty())
        d.widget->setToolTip(text(c.tip));
    grid->addWidget(d.widget, c.row, c.column, 1, c.column_span);
}

// A group's fault items make one chooser, with a state, a code and a button
// that sends them, in the first item's place.
void InstallationDock::draw_faults(const panel_control& c, QWidget* box, QGridLayout* grid, QObject* wheel_filter)
{
    const int index = int(drawn_.size()) - 1;
    if (!fault_output_) {
        auto* row = new QHBoxLayout;
        fault_output_ = new QComboBox(box);
        fault_output_->setObjectName("faultOutput");
        fault_output_->setToolTip(text(c.tip));
        fault_state_ = new QSpinBox(box);
        fault_state_->setRange(0, 3);
        fault_state_->setPrefix(tr("state "));
        fault_code_ = new QSpinBox(box);
        fault_code_->setRange(0, 15);
        fault_code_->setPrefix(tr("code "));
        for (QWidget* w : {static_cast<QWidget*>(fault_output_), static_cast<QWidget*>(fault_state_),
                           static_cast<QWidget*>(fault_code_)})
            take_wheel_only_with_focus(w, wheel_filter);
        auto* apply = new QPushButton(tr("Set"), box);
        row->addWidget(fault_output_);
        row->addWidget(fault_state_);
        row->addWidget(fault_code_);
        row->addWidget(apply);
        grid->addLayout(row, c.row, c.column, 1, c.column_span);
        connect(apply, &QPushButton::clicked, this, [this] {
            const int item = fault_output_->currentData().toInt();
            act(drawn_[size_t(item)].control, false, 0, fault_state_->value(), fault_code_->value());
        });
    }
    fault_output_->addItem(text(c.text), index);
    drawn_.back().widget = fault_output_;
}

InstallationDock::InstallationDock(const plant& plant, act_function on_act, QWidget* parent)
    : QDockWidget(tr("Installation"), parent), plant_(plant), act_(std::move(on_act))
{
    setObjectName("installationDock");
    const description& layout = plant_.layout();
    auto* wheel_filter = new WheelOnlyWithFocus(this);
    auto* body = new QWidget;
    auto* column = new QVBoxLayout(body);

    // The kinds' boxes in bus order: SENB's wall switches and tanks, PWRB's
    // output lamps and faults.
    for (const panel_group& group : panel_groups(layout)) {
        auto* box = new QGroupBox(text(group.title), body);
        auto* grid = new QGridLayout(box);
        for (const panel_control& c : group.controls) {
            if (c.form == control_form::rocker || c.form == control_form::push) {
                // A switch that is on (a rocker up, a push button held) is
                // green, so the wall's state reads at a glance.
                grid->setSpacing(2);
                box->setStyleSheet("QPushButton:checked, QPushButton:pressed { background-color: #2e7d32; "
                                   "color: white; border: 1px solid #1b5e20; border-radius: 3px; padding: 3px; }");
            } else if (c.form == control_form::lamp) {
                grid->setSpacing(3);
            }
            draw(c, box, grid, wheel_filter);
        }
        column->addWidget(box);
    }

    // Modules on the bus; unchecked, a module falls silent.
    auto* modules = new QGroupBox(tr("Modules"), body);
    auto* module_grid = new QGridLayout(modules);
    for (int m = 0; m < module_count(); ++m) {
        auto* box = new QCheckBox(text(layout.module_names[size_t(m)]), modules);
        box->setChecked(true);
        box->setToolTip(QString::fromUtf8(module_silent_tip(m)));
        module_boxes_.push_back(box);
        module_grid->addWidget(box, m / 6, m % 6);
        connect(box, &QCheckBox::toggled, this, [this, m](bool on) {
            plant_action a;
            a.verb = module_verb();
            a.module = m;
            a.on = on;
            act_(a);
        });
    }
    column->addWidget(modules);
    column->addStretch(1);

    scroll_ = new PanelScroll(this);
    scroll_->setWidget(body);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The window takes its docks' least sizes (it fits its client); the
    // window sets the height to what the screen leaves.
    scroll_->setMinimumWidth(content_size().width());
    setWidget(scroll_);

    // The sliders where the plant's levels stand.
    const snapshot now = plant_.read();
    for (drawn& d : drawn_)
        if (d.control.form == control_form::level) {
            auto* slider = static_cast<QSlider*>(d.widget);
            QSignalBlocker quiet(slider);
            slider->setValue(static_cast<int>(read_control(plant_.layout(), now, d.control).value + 0.5));
        }
    refresh();
    timer_ = new QTimer(this);
    timer_->setInterval(33);
    connect(timer_, &QTimer::timeout, this, &InstallationDock::refresh);
    timer_->start();
}

QWidget* InstallationDock::control(control_form form, int m, int c) const
{
    for (const drawn& d : drawn_)
        if (d.control.form == form && d.control.module == m && d.control.channel == c)
            return d.widget;
    return nullptr;
}

QLabel* InstallationDock::reading(control_form form, int m, int c) const
{
    for (const drawn& d : drawn_)
        if (d.control.form == form && d.control.module == m && d.control.channel == c)
            return d.reading;
    return nullptr;
}

QPushButton* InstallationDock::switch_button(int senb, int channel) const
{
    QWidget* w = control(control_form::rocker, senb, channel);
    return static_cast<QPushButton*>(w ? w : control(control_form::push, senb, channel));
}

QLabel* InstallationDock::lamp(int pwrb, int output) const
{
    return static_cast<QLabel*>(control(control_form::lamp, power_module_index(pwrb), output));
}

QSlider* InstallationDock::tank_slider(int tank) const
{
    return static_cast<QSlider*>(control(control_form::level, ANALOG_MODULE, tank));
}

QLabel* InstallationDock::tank_label(int tank) const
{
    return reading(control_form::level, ANALOG_MODULE, tank);
}

QSize InstallationDock::content_size() const
{
    const int frame = 2 * scroll_->frameWidth();
    const QSize body = scroll_->widget()->sizeHint();
    return {body.width() + frame + scroll_->verticalScrollBar()->sizeHint().width(), body.height() + frame};
}

void InstallationDock::set_view_height(int height)
{
    scroll_->setMinimumHeight(height);
}

void InstallationDock::refresh()
{
    const snapshot now = plant_.read();
    for (drawn& d : drawn_) {
        if (d.control.form != control_form::lamp && d.control.form != control_form::level)
            continue;
        const panel_control& c = d.control;
        const bool on = now.module_on[size_t(c.module)];
        const panel_reading r = read_control(plant_.layout(), now, c);
        if (c.form == control_form::level) {
            if (first_ || r.text != d.shown.text)
                d.reading->setText(text(r.text));
        } else if (first_ || on != d.module_was_on || (on && (r.lit != d.shown.lit || r.fault != d.shown.fault))) {
            // A lamp of a module that is off is not known: the module keeps
            // whatever it last applied.
            auto* lamp = static_cast<QLabel*>(d.widget);
            lamp->setStyleSheet(on ? lamp_style(r) : UNKNOWN_LAMP_STYLE);
            lamp->setText(on ? QString() : QString("?"));
            lamp->setAlignment(Qt::AlignCenter);
            lamp->setToolTip(text(c.tip) +
                             (on ? QString() : tr("\n%1 is off: the output keeps its last state, not known here")
                                                   .arg(text(plant_.layout().module_names[size_t(c.module)]))));
        }
        d.shown = r;
        d.module_was_on = on;
    }
    for (int m = 0; m < module_count(); ++m)
        if (module_boxes_[size_t(m)]->isChecked() != now.module_on[size_t(m)]) {
            QSignalBlocker quiet(module_boxes_[size_t(m)]);
            module_boxes_[size_t(m)]->setChecked(now.module_on[size_t(m)]);
        }
    first_ = false;
}

}  // namespace norvane
