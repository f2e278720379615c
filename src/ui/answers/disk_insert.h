// Changing the emulated machine's disks from an answers file.
//
// Answer lines may carry the pair Insert=N (or Insert=X:N): before the
// line's button is pressed, disk N is put into the machine's removable
// drive (X:, or its only removable drive with disks), as `crxmachine drive
// insert` does, because nothing but a program can change the disks of the
// emulated machine. The pair belongs to the line, not to the dialog, so it
// may stand on any answer: the disk dialog "Disk" and the volume
// questions, which are message boxes. A program that changes disks wraps
// its answers front-end in this one; it lives apart from the answers
// front-end so that a program that never changes disks (a Windows
// self-extractor, which has no room to spare) does not link it. Unwrapped,
// the pair is refused like any field the dialog does not have.
#ifndef CRX_UI_ANSWERS_DISK_INSERT_H
#define CRX_UI_ANSWERS_DISK_INSERT_H

#include <memory>
#include <string>

#include "ui/answers/answers.h"
#include "ui/front_end.h"

namespace crx {
struct Platform;
}

namespace crx::ui {

class DiskInsertingFrontEnd : public FrontEnd {
 public:
  DiskInsertingFrontEnd(std::unique_ptr<AnswersFrontEnd> answers, Platform& platform)
      : answers_(std::move(answers)), platform_(platform) {}
  // Carries out the Insert pair of the next line (taking it off the line),
  // then lets the answers front-end answer the dialog. A pair that cannot
  // be carried out ends the run like an answer that does not fit: a value
  // that is not a disk number, no such drive or disk, or a platform that
  // cannot change disks (Windows).
  int Show(Dialog& dialog) override;
  AnswersFrontEnd& answers() { return *answers_; }

 private:
  std::unique_ptr<AnswersFrontEnd> answers_;
  Platform& platform_;
};

}  // namespace crx::ui

#endif  // CRX_UI_ANSWERS_DISK_INSERT_H
