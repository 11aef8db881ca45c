#pragma once
// A file source for tests that answers as slowly as the test wants: a real
// GStreamer element reading real files. While an object of this class lives,
// it is the element every file:// source is made from in this process (the
// dialog's length measurement, the preview's playbin), as a handler of file
// URIs ranked above filesrc, and the element behind the conversion's own file
// source name. Readers from the n-th one made (Hold) wait in each read until
// the test lets them go (Release), as on a disk that does not answer; a state
// change of their graph wakes them, so a graph can always be torn down.

namespace veltrano::test {

class SlowFileSource {
public:
    // Registers the element (once) and puts it in charge of file URIs until
    // destroyed; no reader is held at first.
    SlowFileSource();
    ~SlowFileSource();
    SlowFileSource(const SlowFileSource&) = delete;
    SlowFileSource& operator=(const SlowFileSource&) = delete;

    // Readers from the firstHeld-th made since this object was (counted from
    // 1) wait in their reads from now on.
    void Hold(int firstHeld = 1);
    // Lets every waiting reader go on, and those made later read at once.
    void Release();
    // Readers made so far, and those waiting in a read now.
    int made() const;
    int waiting() const;
};

}  // namespace veltrano::test
