#include "app/note_snapshot.h"

#include <QImage>
#include <QWidget>

#include "app/jpeg_writer.h"
#include "platform/rtl/file_names.h"

namespace jw {

std::string SnapshotFileName() {
  return ExecutableFolder() + "emailImage.jpg";
}

void NoteSnapshot(TScrapForm& note, TBitmap& bitmap) {
  QImage image(note.ClientWidth(), note.ClientHeight(), QImage::Format_RGB32);
  image.fill(Qt::white);
  // A shaped window renders only inside its mask, and moves the mask's
  // top-left corner to the picture's origin; the picture must keep the
  // note's own coordinates, so the mask is ignored here and the outline
  // applied below.
  note.Handle()->render(
      &image, QPoint(), QRegion(),
      QWidget::DrawWindowBackground | QWidget::DrawChildren | QWidget::IgnoreMask);
  bitmap.SetImage(image.convertToFormat(QImage::Format_BGR888));
  // What lies outside the outline is no part of the note: the paper's
  // transparent red and the window's own background become white.
  TRegion outside = CreateRectRgn(0, 0, note.Width(), note.Height());
  if (note.ShapeRegion) CombineRgn(outside, outside, *note.ShapeRegion, RGN_DIFF);
  TCanvas& canvas = bitmap.Canvas();
  canvas.Brush().SetStyle(TBrushStyle::bsSolid);
  canvas.Brush().SetColor(clWhite);
  for (const TRect& rect : outside.Rects()) canvas.FillRect(rect);
}

void SaveSnapshotJpeg(TScrapForm& note, const std::string& path) {
  TBitmap bitmap;
  NoteSnapshot(note, bitmap);
  SaveJpeg(bitmap, path);
}

}  // namespace jw
