// The counting icon's pictures as PNG files, written cheaply.
//
// Hosts read a named icon once a minute, each time the picture changes, and the pictures are a
// few small squares: Qt's writer spends most of its time choosing row filters and deflating,
// work that saves a few kilobytes in a memory-backed runtime folder. This writer stores the rows
// unfiltered and uncompressed (libpng), so a new picture costs little more than copying it.
#pragma once

#include <QByteArray>
#include <QImage>

namespace orvela::qt {

// `image` as an 8-bit RGBA PNG; empty when it cannot be encoded.
QByteArray quickPng(const QImage& image);

}  // namespace orvela::qt
