// Finds the message boxes that the program under test shows, reads their
// caption and text, presses a button and records what it saw, from a
// watcher thread, so that a test can assert the exact sequence of messages.
#ifndef VELK_TESTS_WIN_MESSAGE_BOXES_H
#define VELK_TESTS_WIN_MESSAGE_BOXES_H

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

struct SeenMessage {
    std::string caption;
    std::string text;
    int button; // IDOK, IDYES or IDNO: the button that was pressed

    bool operator==(const SeenMessage& other) const
    {
        return caption == other.caption && text == other.text && button == other.button;
    }
};

// Shown by gtest when an expectation on messages fails.
inline void PrintTo(const SeenMessage& m, std::ostream* os)
{
    *os << "[" << m.caption << "] \"" << m.text << "\" -> " << m.button;
}

// Starts the watcher for message boxes of this process whose caption begins
// with `captionPrefix`. Boxes with an OK button get OK; Yes/No questions get
// the next planned answer (IDNO when none is planned).
void StartMessageWatcher(const char* captionPrefix);
void StopMessageWatcher();

// Answers for the next Yes/No questions, in order.
void PlanAnswers(const std::vector<int>& answers);

// The messages seen since the last call, in order; clears the record.
std::vector<SeenMessage> TakeSeenMessages();

// Processes the calling thread's pending messages (paints, timers).
void PumpMessages();

// Readable form for test failures.
std::string Describe(const std::vector<SeenMessage>& messages);

#endif
