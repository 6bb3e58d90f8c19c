#pragma once

// Where the demo instrument's editor draws what: a title line, a line of
// parameter values, a keyboard strip and the box that grows or shrinks the
// editor. Two sizes: compact (four octaves) and wide (seven, taller keys).

namespace demo {

struct Box {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool empty() const { return right <= left || bottom <= top; }
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const Box&) const = default;
};

class EditorLayout {
public:
    enum class Size { compact, wide };

    Size size() const { return current; }
    void setSize(Size size) { current = size; }
    void toggle() { current = current == Size::compact ? Size::wide : Size::compact; }

    int width() const;
    int height() const;
    int firstNote() const;
    int lastNote() const;

    Box title() const;
    Box parameterLine() const;
    Box keyboard() const;
    Box growBox() const;
    // Empty for a note outside the strip. Black keys lie over the white ones.
    Box key(int note) const;
    static bool isBlackKey(int note);

private:
    int whiteKeysBefore(int note) const;
    int keyHeight() const;

    Size current = Size::compact;
};

} // namespace demo
