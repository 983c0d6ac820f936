#pragma once
#include <QImage>
#include <QString>
#include <cstdint>

namespace tovalin {

class ImageHolder;
struct FormState;

// The window's services the Resize command uses, and nothing more.
class ResizeWindow {
public:
    enum class Field { Folder, OutputName, Width, Height, Factor, TargetSize };

    virtual ~ResizeWindow() = default;
    virtual void setBusy(bool busy) = 0;
    virtual void showMessage(const QString &text) = 0;
    virtual bool askYesNo(const QString &text) = 0;
    virtual QString fieldText(Field field) const = 0;
    virtual bool factorModeSelected() const = 0;
    virtual void setResultLabel(const QString &text) = 0;
    virtual void setFactorLabel(const QString &text) = 0;
    virtual void enablePreviewButton() = 0;
};

// Resize the viewer's image into a JPEG at folder/output name, with the
// typed factor or the factor found for the typed file size.
void runResizeCommand(ResizeWindow &window, const ImageHolder &viewer, ImageHolder &work, FormState &state);

// The command's two ways of saving the resized image, also run on their own
// by the benchmark.
void saveWithFactor(ResizeWindow &window, const QImage &image, const QString &outputPath, int factor);
void saveForTargetSize(ResizeWindow &window, const QImage &image, const FormState &state, std::int32_t target);

} // namespace tovalin
