#pragma once

class QImage;
class QLabel;

// The video label shows the rendered canvas as its pixmap.

// Shows `canvas` as the label's pixmap (sharing its buffer); see label_covered_changed().
void show_canvas(QLabel &label, const QImage &canvas);

// To call whenever the label's size or pixmap changes. While its pixmap covers it entirely,
// the label is marked as painting every pixel itself, so no background is filled under the
// picture first (a whole-area fill per picture, for nothing); otherwise the background shows
// around the pixmap as usual.
void label_covered_changed(QLabel &label);
