// How the page's viewer sizes a picture, shared with the workers that scale it for the viewer.
// `view` is {zoom, room, ratio}: the zoom (CSS pixels a picture pixel, or 'fit'), the room the
// stage leaves the picture at 'fit' in CSS pixels, and the device's pixel ratio.

// CSS pixels a picture pixel: the zoom, or at 'fit' the largest scale that fits the room without
// enlarging the picture.
export const shownScale = (width, height, {zoom, room}) =>
  zoom === 'fit' ? Math.min(1, room.width / width, room.height / height) : zoom;

// The size a reduced picture is drawn at, in device pixels; null when it is drawn at full size or
// enlarged, which is drawn from the picture's own pixels.
export function reducedSize(width, height, view) {
  const scale = shownScale(width, height, view) * view.ratio;
  if (!(scale < 1)) return null;
  return {width: Math.max(1, Math.round(width * scale)),
          height: Math.max(1, Math.round(height * scale))};
}
