// The process's one inotify instance, which every folder watch of the layer shares.
//
// Linux allows each user only a few inotify instances (128 by default), counted over all of the
// user's processes, so the layer makes one on first use and keeps it for the life of the
// process; when making it fails (the user's budget is spent elsewhere), the next AddWatch tries
// again. The kernel gives one watch descriptor per watched folder, so a folder watched for
// several listeners is one watch: it is held while any of them holds it and removed with the
// last. Its mask is the union of what they asked for and narrows only when the watch goes, so
// each listener picks from the events what it wants.
//
// Events are read by a small thread of the hub that sleeps on the descriptor, and by whoever
// calls Drain, so that a look sees all the kernel queued before it. Each event goes to the
// listeners of its watch; a lost queue (IN_Q_OVERFLOW) goes to every listener. A thread rather
// than readers taking turns: a waiter sleeps on its own object's state, and something must read
// the shared descriptor on behalf of waiters that sleep while another waiter's look took their
// events off it.
//
// Threads: one lock guards the hub and, by convention, the listeners' state. AddWatch,
// RemoveWatch and Drain need it held (Lock()); listeners are called with it held and may add
// watches from there, not remove them. A listener removes its watches before it goes and is not
// called after that. A child of fork must not use the hub: the instance and its thread are the
// parent's.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct inotify_event;

namespace zbw {

class CInotifyHub {
   public:
    class CListener {
       public:
        // One event of a watch the listener holds, or a lost queue; the hub's lock is held.
        virtual void OnEvent(const inotify_event& event) = 0;

       protected:
        ~CListener() = default;
    };

    // The process's hub, made on first use and never destroyed.
    static CInotifyHub& Instance();

    std::unique_lock<std::mutex> Lock();
    // Watches path with mask (added to what the folder's watch has already) for listener; the
    // watch descriptor, or -errno. Adding a watch the listener holds already changes nothing.
    int AddWatch(const std::string& path, uint32_t mask, CListener* listener);
    // Drops listener's hold on wd; the watch goes with its last listener.
    void RemoveWatch(int wd, CListener* listener);
    // Reads what the kernel has queued and hands it out.
    void Drain();

   private:
    CInotifyHub() = default;

    // Makes the instance and its reader when they are missing; 0 or an errno.
    int Open();
    void ReadForever(int fd);
    void Dispatch(const inotify_event& event);

    std::mutex m_lock;
    int m_fd = -1;
    std::map<int, std::vector<CListener*>> m_watches;  // watch descriptor -> its listeners
};

}  // namespace zbw
