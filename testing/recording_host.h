// A dialog stand-in for the worker: records what it posts and the message boxes it
// is asked to show (with the thread they came from), and answers them.
#pragma once
#include "engine/worker.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct PostedNotify {
    unsigned code;
    long lParam;
};

struct ShownBox {
    std::string text;
    std::string caption;
    unsigned style;
    std::thread::id thread;
    size_t notesBefore;  // notifications posted before the box was shown
};

class RecordingHost : public WorkerHost {
public:
    void PostWorkerNotify(unsigned code, long lParam) override {
        std::function<void(unsigned)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_notes.push_back({code, lParam});
            hook = onNotify;
        }
        if (hook) hook(code);
    }
    int ShowMessageBox(const char* text, const char* caption, unsigned style) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_boxes.push_back({text, caption, style, std::this_thread::get_id(), m_notes.size()});
        return answer;
    }

    std::vector<PostedNotify> Notes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_notes;
    }
    std::vector<ShownBox> Boxes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_boxes;
    }
    bool Posted(unsigned code) {
        for (const PostedNotify& n : Notes())
            if (n.code == code) return true;
        return false;
    }

    // Runs on the posting (worker) thread, after the notification is recorded.
    std::function<void(unsigned)> onNotify;
    int answer = 1;  // IDOK

private:
    std::mutex m_mutex;
    std::vector<PostedNotify> m_notes;
    std::vector<ShownBox> m_boxes;
};
