#pragma once
// The padlock pictures of the two password windows, drawn at run time.

#include <QPixmap>

// A 50 x 50 picture: an open padlock with a yellow spark, or a closed one.
QPixmap PadlockPixmap(bool open);
