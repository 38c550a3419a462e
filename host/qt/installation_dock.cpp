#include "host/qt/installation_dock.h"

#include "seam/tanks.h"

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

const char* const TANK_NAMES[TANK_COUNT] = {"Fuel 1", "Fuel 2", "Water 1", "Water 2"};

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

QIcon switch_icon(channel_kind kind)
{
    QIcon icon;
    if (kind == channel_kind::push) {
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

QString lamp_style(const output_view& out)
{
    // Lit: amber; a reported fault state or code: red frame.
    const bool fault = out.state != 0 || out.code != 0;
    return QString("QLabel { background: %1; border: 2px solid %2; border-radius: 4px; }")
        .arg(out.lit() ? "#ffc83d" : "#3a3a3a", fault ? "#e02020" : "#202020");
}

}  // namespace

void InstallationDock::act(const plant_verb* verb, int module, int channel, bool on, double amount, int state, int code)
{
    plant_action a;
    a.verb = verb;
    a.module = module;
    a.channel = channel;
    a.on = on;
    a.amount = amount;
    a.state = state;
    a.code = code;
    act_(a);
}

InstallationDock::InstallationDock(const plant& plant, act_function on_act, QWidget* parent)
    : QDockWidget(tr("Installation"), parent), plant_(plant), act_(std::move(on_act))
{
    setObjectName("installationDock");
    const plant_verb* const SWITCH = plant_verb_named("switch");
    const plant_verb* const TANK = plant_verb_named("tank");
    const plant_verb* const FAULT = plant_verb_named("fault");
    const description& layout = plant_.layout();
    auto* wheel_filter = new WheelOnlyWithFocus(this);
    auto* body = new QWidget;
    auto* column = new QVBoxLayout(body);

    // Wall switches: a checkable button stays (rocker), a plain one is on
    // while held (push button).
    auto* switches = new QGroupBox(tr("Wall switches"), body);
    auto* switch_grid = new QGridLayout(switches);
    switch_grid->setSpacing(2);
    // A switch that is on (a rocker up, a push button held) is green, so the
    // wall's state reads at a glance.
    switches->setStyleSheet("QPushButton:checked, QPushButton:pressed { background-color: #2e7d32; color: white;"
                            " border: 1px solid #1b5e20; border-radius: 3px; padding: 3px; }");
    for (int m = 0; m < SWITCH_MODULES; ++m) {
        switch_grid->addWidget(new QLabel(QString::fromStdString(layout.module_names[m])), 0, m);
        for (int c = 0; c < INPUT_CHANNELS; ++c) {
            const channel_description& ch = layout.channels[m][c];
            QString text = QString("%1 %2").arg(c + 1).arg(QString::fromStdString(ch.label));
            auto* button = new QPushButton(text, switches);
            button->setObjectName(QString("switch_%1_%2").arg(m + 1).arg(c + 1));
            button->setIcon(switch_icon(ch.kind));
            button->setToolTip(ch.kind == channel_kind::push ? tr("Push button: on while held down")
                                                             : tr("Rocker: a click turns it on or off"));
            if (ch.kind == channel_kind::push) {
                connect(button, &QPushButton::pressed, this, [this, m, c, SWITCH] { act(SWITCH, m, c, true); });
                connect(button, &QPushButton::released, this, [this, m, c, SWITCH] { act(SWITCH, m, c, false); });
            } else {
                button->setCheckable(true);
                connect(button, &QPushButton::toggled, this, [this, m, c, SWITCH](bool on) { act(SWITCH, m, c, on); });
            }
            switches_[m][c] = button;
            switch_grid->addWidget(button, c + 1, m);
        }
    }
    {
        // A legend under the switches, with the symbols the buttons carry.
        auto* row = new QHBoxLayout;
        row->setSpacing(4);
        const std::pair<QPixmap, QString> keys[] = {{rocker_symbol(false), tr("rocker: a click turns it on or off")},
                                                    {push_symbol(), tr("push button: on while held")}};
        for (const auto& [symbol, text] : keys) {
            auto* picture = new QLabel(switches);
            picture->setPixmap(symbol);
            row->addWidget(picture);
            row->addWidget(new QLabel(text, switches));
            row->addSpacing(12);
        }
        row->addStretch(1);
        switch_grid->addLayout(row, INPUT_CHANNELS + 1, 0, 1, SWITCH_MODULES);
    }
    column->addWidget(switches);

    // Tanks: the percent the unit will show for the sender's volts (its
    // arithmetic floors, so a slider at 33 % may read 32), the volts beside.
    auto* tanks = new QGroupBox(tr("Tanks"), body);
    auto* tank_grid = new QGridLayout(tanks);
    for (int c = 0; c < INPUT_CHANNELS; ++c) {
        const int t = layout.channels[ANALOG_MODULE][c].tank;
        if (t >= 0 && t < TANK_COUNT && tank_channels_[t] < 0)
            tank_channels_[t] = c;
    }
    for (int t = 0; t < TANK_COUNT; ++t) {
        auto* slider = new QSlider(Qt::Horizontal, tanks);
        slider->setObjectName(QString("tank_%1").arg(t + 1));
        // As far as the sender goes: a fuel tank's over-range up to 125 %.
        int top = 100;
        if (const int c = tank_channels_[t]; c >= 0)
            top = static_cast<int>(sender_top_percent(layout.channels[ANALOG_MODULE][c].curve) + 0.5);
        slider->setRange(0, top);
        take_wheel_only_with_focus(slider, wheel_filter);
        tank_sliders_[t] = slider;
        tank_labels_[t] = new QLabel(tanks);
        tank_labels_[t]->setMinimumWidth(110);
        tank_labels_[t]->setToolTip(tr("What the unit's tank page will show for the sender's volts, and the volts"));
        tank_grid->addWidget(new QLabel(TANK_NAMES[t]), t, 0);
        tank_grid->addWidget(slider, t, 1);
        tank_grid->addWidget(tank_labels_[t], t, 2);
        connect(slider, &QSlider::valueChanged, this, [this, t, TANK](int percent) { act(TANK, ANALOG_MODULE, t, false, percent); });
    }
    column->addWidget(tanks);

    // The 64 outputs, one lamp each, a row per power module.
    auto* outputs = new QGroupBox(tr("Outputs"), body);
    auto* lamp_grid = new QGridLayout(outputs);
    lamp_grid->setSpacing(3);
    for (int p = 0; p < POWER_MODULES; ++p) {
        lamp_grid->addWidget(new QLabel(QString::fromStdString(layout.module_names[power_module_index(p)])), p, 0);
        for (int o = 0; o < POWER_OUTPUTS; ++o) {
            auto* lamp = new QLabel(outputs);
            lamp->setObjectName(QString("lamp_%1_%2").arg(p + 1).arg(o + 1));
            lamp->setFixedSize(18, 18);
            const std::string& label = layout.output_labels[p][o];
            lamp_tips_[p][o] = QString("%1 output %2%3")
                                   .arg(QString::fromStdString(layout.module_names[power_module_index(p)]))
                                   .arg(o + 1)
                                   .arg(label.empty() ? QString() : ": " + QString::fromStdString(label));
            lamps_[p][o] = lamp;
            lamp_grid->addWidget(lamp, p, o + 1);
        }
    }
    column->addWidget(outputs);

    // Faults: an output's reported state and code.
    auto* faults = new QGroupBox(tr("Output fault"), body);
    auto* fault_row = new QHBoxLayout(faults);
    fault_output_ = new QComboBox(faults);
    fault_output_->setObjectName("faultOutput");
    for (int p = 0; p < POWER_MODULES; ++p)
        for (int o = 0; o < REPORTED_OUTPUTS; ++o)
            fault_output_->addItem(QString("%1/%2").arg(QString::fromStdString(layout.module_names[power_module_index(p)])).arg(o + 1),
                                   p * POWER_OUTPUTS + o);
    fault_state_ = new QSpinBox(faults);
    fault_state_->setRange(0, 3);
    fault_state_->setPrefix(tr("state "));
    fault_code_ = new QSpinBox(faults);
    fault_code_->setRange(0, 15);
    fault_code_->setPrefix(tr("code "));
    fault_output_->setToolTip(tr("Outputs 1 to 7: the status and codes messages carry no state or code for output 8"));
    for (QWidget* w : {static_cast<QWidget*>(fault_output_), static_cast<QWidget*>(fault_state_),
                       static_cast<QWidget*>(fault_code_)})
        take_wheel_only_with_focus(w, wheel_filter);
    auto* apply = new QPushButton(tr("Set"), faults);
    fault_row->addWidget(fault_output_);
    fault_row->addWidget(fault_state_);
    fault_row->addWidget(fault_code_);
    fault_row->addWidget(apply);
    connect(apply, &QPushButton::clicked, this, [this, FAULT] {
        const int index = fault_output_->currentData().toInt();
        act(FAULT, power_module_index(index / POWER_OUTPUTS), index % POWER_OUTPUTS, false, 0, fault_state_->value(),
            fault_code_->value());
    });
    column->addWidget(faults);

    // Modules on the bus; unchecked, a module falls silent.
    auto* modules = new QGroupBox(tr("Modules"), body);
    auto* module_grid = new QGridLayout(modules);
    module_boxes_.assign(size_t(module_count()), nullptr);
    for (int m = 0; m < module_count(); ++m) {
        auto* box = new QCheckBox(QString::fromStdString(layout.module_names[m]), modules);
        box->setChecked(true);
        box->setToolTip(m < INPUT_MODULES
                            ? tr("Off: the module falls silent (sends nothing); the unit keeps its last readings "
                                 "until it calls them stale")
                            : tr("Off: the module falls silent: it sends no status and takes no commands; "
                                 "its outputs keep their last state, shown as unknown (?)"));
        module_boxes_[m] = box;
        module_grid->addWidget(box, m / 6, m % 6);
        connect(box, &QCheckBox::toggled, this, [this, m](bool on) { act(module_verb(), m, 0, on); });
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

    const snapshot now = plant_.read();
    for (int t = 0; t < TANK_COUNT; ++t) {
        QSignalBlocker quiet(tank_sliders_[t]);
        tank_sliders_[t]->setValue(static_cast<int>(now.tank_percent[t] + 0.5));
    }
    refresh();
    timer_ = new QTimer(this);
    timer_->setInterval(33);
    connect(timer_, &QTimer::timeout, this, &InstallationDock::refresh);
    timer_->start();
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
    for (int p = 0; p < POWER_MODULES; ++p) {
        const int m = power_module_index(p);
        const bool on = now.module_on[m];
        for (int o = 0; o < POWER_OUTPUTS; ++o) {
            const output_view& out = now.outputs[p][o];
            const output_view& was = shown_.outputs[p][o];
            if (!first_ && on == shown_.module_on[m] &&
                (!on || (out.command == was.command && out.state == was.state && out.code == was.code)))
                continue;
            QLabel* lamp = lamps_[p][o];
            lamp->setStyleSheet(on ? lamp_style(out) : UNKNOWN_LAMP_STYLE);
            lamp->setText(on ? QString() : QString("?"));
            lamp->setAlignment(Qt::AlignCenter);
            lamp->setToolTip(lamp_tips_[p][o] +
                             (on ? QString() : tr("\n%1 is off: the output keeps its last state, not known here")
                                                   .arg(QString::fromStdString(plant_.layout().module_names[m]))));
        }
    }
    for (int t = 0; t < TANK_COUNT; ++t) {
        const int c = tank_channels_[t];
        const uint16_t mv = c >= 0 ? now.analog_mv[c] : 0;
        if (first_ || c < 0 || mv != shown_.analog_mv[c])
            tank_labels_[t]->setText(QString("%1 %  %2 V")
                                         .arg(tank_reading_percent(uint8_t(t), mv))
                                         .arg(mv / 1000.0, 0, 'f', 2));
    }
    for (int m = 0; m < module_count(); ++m)
        if (module_boxes_[m]->isChecked() != now.module_on[m]) {
            QSignalBlocker quiet(module_boxes_[m]);
            module_boxes_[m]->setChecked(now.module_on[m]);
        }
    shown_ = now;
    first_ = false;
}

}  // namespace norvane
