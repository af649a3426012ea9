// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The side picture of the wizard: a phone receiving a notice from a calendar,
// drawn once and stretched to fill the picture panel.

#include <QImage>
#include <QWidget>

namespace rp {

inline constexpr QSize kSidePictureSize(142, 387);

// The picture itself, 142 x 387, 24 bits per pixel.
QImage DrawSidePicture();

class TImageFrame : public QWidget {
    Q_OBJECT
public:
    explicit TImageFrame(QWidget* parent = nullptr);
    const QImage& Image1() const { return image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image;
};

} // namespace rp
