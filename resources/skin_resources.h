#pragma once

// Makes the skin's pictures, the window icon and the sounds loadable as ":/skin/<id>.png",
// ":/icons/128-<size>.png" and ":/sounds/<id>.wav". Call once before loading any; later calls
// do nothing. Any thread.
void InitSkinResources();
