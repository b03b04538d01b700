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
  note.Handle()->render(&image);
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
