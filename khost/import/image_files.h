// Where the image file a material names lies. Scene files name their
// images as the tool that wrote them had them: relative to the scene file
// or absolute, with backslashes, in another case than the file system
// holds them, from a folder on another machine (of which only the file
// name beside the scene is left), or without an extension (MD5's shader
// names).
#pragma once

#include <string>

namespace khost {

// The regular file that `named` (as the material names it) stands for,
// looked for in this order: the name with '/' for every '\' (a relative
// one in `folder`, the scene file's folder); the same with each part
// matched regardless of case; an absolute name as one relative to
// `folder`; its last part alone in `folder`, regardless of case. A name
// without an extension is looked for with each of .png, .tga, .jpg, .jpeg
// and .bmp after it too. Empty when none is found.
std::string FindImageFile(const std::string& folder, const std::string& named);

}  // namespace khost
