#include "c_ui_video_setting_dlg.h"

#include "ui_c_ui_video_setting_dlg.h"

#include "logging/log.h"
#include "km/mouse_rate.h"

c_ui_video_setting_dlg::c_ui_video_setting_dlg(body_sink sink, std::uint8_t target,
                                               QWidget *parent)
    : QDialog(parent), ui(new Ui::video_setting_dlg), m_sink(std::move(sink)), m_target(target)
{
    ui->setupUi(this);
    ui->lineEdit_slider->setText(QString::number(ui->hSlider->value()));
    connect(ui->btnUp, &QPushButton::clicked, this, &c_ui_video_setting_dlg::onUp);
    connect(ui->btnDown, &QPushButton::clicked, this, &c_ui_video_setting_dlg::onDown);
    connect(ui->btnLeft, &QPushButton::clicked, this, &c_ui_video_setting_dlg::onLeft);
    connect(ui->btnRight, &QPushButton::clicked, this, &c_ui_video_setting_dlg::onRight);
    connect(ui->pushButton_reset, &QPushButton::clicked, this, &c_ui_video_setting_dlg::reset);
    connect(ui->hSlider, &QSlider::valueChanged, this,
            &c_ui_video_setting_dlg::setLineEditSliderValue);
}

c_ui_video_setting_dlg::~c_ui_video_setting_dlg() = default;

void c_ui_video_setting_dlg::setMouseSampleRate(int rate)
{
    ui->lineEdit_slider->setText(QString::number(rate));
    ui->hSlider->setValue(rate);
    // A slider already at the clamped value reports nothing (a rate of 0 with the slider at
    // 1): the field and the rate must still follow the slider.
    if (ui->hSlider->value() != rate)
        setLineEditSliderValue(ui->hSlider->value());
}

void c_ui_video_setting_dlg::onUp()
{
    TLOG_INFO << "videoSetting,Up";
    sendPosition(kUp);
}

void c_ui_video_setting_dlg::onDown()
{
    TLOG_INFO << "videoSetting,down";
    sendPosition(kDown);
}

void c_ui_video_setting_dlg::onLeft()
{
    TLOG_INFO << "videoSetting,left";
    sendPosition(kLeft);
}

void c_ui_video_setting_dlg::onRight()
{
    TLOG_INFO << "videoSetting,right";
    sendPosition(kRight);
}

void c_ui_video_setting_dlg::reset()
{
    TLOG_INFO << "videoSetting,beginSet";
    if (m_sink)
        m_sink({kResetPosition, m_target});
}

void c_ui_video_setting_dlg::setLineEditSliderValue(int value)
{
    ui->lineEdit_slider->setText(QString::number(value));
    set_mouse_sample_rate(value);
}

void c_ui_video_setting_dlg::sendPosition(Direction direction)
{
    // The last byte is the step: one unit per click.
    if (m_sink)
        m_sink({kSetPosition, m_target, direction, 0x01});
}
