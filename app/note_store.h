// The note store: the records of the notes table become note windows at
// start, and the note windows are written back into it: every note at exit,
// the notes that changed a few seconds after they changed (the stay-on-top
// toggle and deleting a note reach it at once). Every routine works on the
// table component it is given, open on the notes table.
#pragma once

namespace jw {

class TQuireTable;
class TScrapForm;

// A note window for each record, walking the "Zorder" index from the back
// note to the front one, all shown together in that order, so the note in
// front at exit is in front again. A record that cannot become a note is
// reported and left as it is.
void LoadAllScraps(TQuireTable& table);

// A shown note window made from the table's current record. When that
// fails the user is told, the window goes unshown (its record stays as it
// is stored) and the result is nullptr.
TScrapForm* LoadScrapWindow(TQuireTable& table);

// Writes the note into its record, or into a new record whose "scrapid" the
// note then takes; the table's current record is the one written. A note
// whose scrapid is negative and whose text is empty is not written.
void SaveScrapWindow(TQuireTable& table, TScrapForm& note);

// Writes every note window, each with its place in the screen's form list
// (front first) as its Zorder. A note that cannot be written does not stop
// the others; the first failure is raised after all were tried.
void SaveAllScraps(TQuireTable& table);
// The same for the notes whose record would differ from the one last
// written or read for them.
void SaveChangedScraps(TQuireTable& table);

// Deletes the note's record; a note never written has none.
void DeleteScrapRecord(TQuireTable& table, const TScrapForm& note);

}  // namespace jw
