# by hand
/* block
   comment */ [* nested [* comment *] *]
name = "a" + ".jpg"
c = ImageSource(file=name, start=0, end=2 * 3 - 1, fps=29.97, use_DevIL=false)
c.BicubicResize(c.Width / 2, $1E, b=0, c=0.5) \
  .Loop(-(-2), 0, c.FrameCount - 1)
\ ++ c
global x = """triple "quoted" string"""
return last
__END__
ignored
