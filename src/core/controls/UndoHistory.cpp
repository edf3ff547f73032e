#include "UndoHistory.h"

bool UndoHistory::Commit(const Sound& now)
{
    if (SameSound(now, current_))
        return false;
    undo_.push_back(current_);
    if (undo_.size() > kHistorySteps)
        undo_.pop_front();
    redo_.clear();
    current_ = now;
    return true;
}

std::optional<Sound> UndoHistory::Undo(const Sound& now)
{
    Commit(now);
    if (undo_.empty())
        return std::nullopt;
    redo_.push_back(current_);
    current_ = undo_.back();
    undo_.pop_back();
    return current_;
}

std::optional<Sound> UndoHistory::Redo(const Sound& now)
{
    Commit(now);
    if (redo_.empty())
        return std::nullopt;
    undo_.push_back(current_);
    current_ = redo_.back();
    redo_.pop_back();
    return current_;
}

void UndoHistory::Reset(const Sound& start)
{
    current_ = start;
    undo_.clear();
    redo_.clear();
}
