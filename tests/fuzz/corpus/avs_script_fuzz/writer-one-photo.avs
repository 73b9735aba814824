p0=ImageSource("/home/me/one photo.jpg", 1,1,25)
p0=BicubicResize(p0,352,288)
p0_t=Loop(p0,25)
p0=Loop(p0,50)
all=p0
all=BicubicResize(all,352,288)
return all
