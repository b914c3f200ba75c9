// The main window's tool button pictures.
#pragma once

class TImageList;

// Fills `images` with the 21 pictures of the main window's image list: 0 a hand
// with a pen, 4 a red prohibition sign, 14 a red cross, 18 a page with a green
// mark, 20 a ruled sheet; the others are plain marks that no button uses.
void FillMainImages(TImageList& images);
