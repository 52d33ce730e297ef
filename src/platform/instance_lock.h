#pragma once
// The user's one running Orvandel: the program holds a lock on a file in its
// settings folder for as long as it runs, and orvandel-setup writes the
// settings only when it can take that lock itself (the program saves its
// settings when it ends, over any change made meanwhile).

class InstanceLock {
public:
    // Takes the lock for the rest of the process's life; true when this
    // process holds it now.
    static bool TryTake();
};
